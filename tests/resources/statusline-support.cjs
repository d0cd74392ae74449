'use strict';
// Shared helpers of the collector tests: temporary homes, running the scripts as child processes.

const fs = require('fs');
const os = require('os');
const path = require('path');
const crypto = require('crypto');
const { spawnSync } = require('child_process');

const RESOURCES = process.env.VANTOREL_RESOURCES_DIR || path.join(__dirname, '..', '..', 'resources');
const COLLECTOR = path.join(RESOURCES, 'vantorel-statusline.cjs');
const FIXTURES = path.join(__dirname, 'fixtures');
const NODE = process.execPath;

function sha256Hex(text) {
    return crypto.createHash('sha256').update(text, 'utf8').digest('hex');
}

function quote(s) {
    return `'${s.split("'").join("'\\''")}'`;
}

// A temporary home folder whose path has a blank and a quote in it.
function makeHome(t) {
    const root = fs.mkdtempSync(path.join(os.tmpdir(), "vantorel test '"));
    t.after(() => fs.rmSync(root, { recursive: true, force: true }));
    const home = path.join(root, 'home');
    fs.mkdirSync(home);
    return home;
}

function childEnv(home, extra = {}) {
    const env = { ...process.env, HOME: home, ...extra };
    delete env.NODE_OPTIONS;
    delete env.XDG_DATA_HOME;
    if (extra.XDG_DATA_HOME !== undefined) env.XDG_DATA_HOME = extra.XDG_DATA_HOME;
    return env;
}

function defaultBridge(home) {
    return path.join(home, '.local', 'share', 'Vantorel', 'statusline');
}

function runInstaller(provider, configDir, { home, env, node = NODE, args } = {}) {
    const script = path.join(RESOURCES, `install-${provider}-statusline.cjs`);
    const argv = args || ['--config-dir', configDir, '--node', node];
    return spawnSync(NODE, [script, ...argv], { env: env || childEnv(home), encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

// Runs a statusLine command the way the tool does: through the shell, input on standard input.
function runCommand(command, input, { env, cwd } = {}) {
    return spawnSync('/bin/sh', ['-c', command], { input, env, cwd, timeout: 30000 });
}

function runCollector(args, input, env) {
    return spawnSync(NODE, [COLLECTOR, ...args], { input, env, timeout: 30000 });
}

function readJson(file) {
    return JSON.parse(fs.readFileSync(file, 'utf8'));
}

function statusLineCommand(configDir) {
    return readJson(path.join(configDir, 'settings.json')).statusLine.command;
}

// Names, bytes and inode numbers of every file in a folder.
function folderState(dir) {
    const out = {};
    for (const name of fs.readdirSync(dir).sort()) {
        const file = path.join(dir, name);
        const st = fs.lstatSync(file);
        out[name] = st.isFile() ? { ino: st.ino, bytes: fs.readFileSync(file).toString('base64') } : { ino: st.ino };
    }
    return out;
}

function writeClaudeAccount(file, accountUuid, organizationUuid) {
    fs.writeFileSync(file, JSON.stringify({ numStartups: 3, oauthAccount: { accountUuid, organizationUuid, emailAddress: 'a@example.org' } }));
}

module.exports = {
    RESOURCES,
    COLLECTOR,
    FIXTURES,
    NODE,
    sha256Hex,
    quote,
    makeHome,
    childEnv,
    defaultBridge,
    runInstaller,
    runCommand,
    runCollector,
    readJson,
    statusLineCommand,
    folderState,
    writeClaudeAccount,
};
