'use strict';
// Connects the Vantorel collector as a tool's statusLine command in the profile's settings.json.
//
//   node install-<tool>-statusline.cjs --config-dir DIR --node NODE
//
// Exit status 0 only when the collector is connected. Every other setting is kept byte for byte:
// only the statusLine member is inserted, or the command string inside it replaced. The settings
// as they were before the first change are kept in the profile folder as
// "settings.json.vantorel-backup" (numbered copies when that name is taken by other content;
// an existing backup is never overwritten). A user's own command is wrapped: the collector runs
// it and prints its output. A command that names the collector but is not one this installer
// wrote was changed by hand and is left alone (exit status 1).

const fs = require('fs');
const os = require('os');
const path = require('path');
const crypto = require('crypto');
const { CLAUDE_MARKER, OPTIONS } = require('./vantorel-statusline.cjs');

const COLLECTOR = 'vantorel-statusline.cjs';
const COLLECTOR_STEM = 'vantorel-statusline';
const SETTINGS = 'settings.json';
const BACKUP = 'settings.json.vantorel-backup';
const MAX_BACKUPS = 100;
const PROVIDERS = ['claude', 'antigravity'];

const EXIT_CONNECTED = 0;
const EXIT_NOT_CONNECTED = 1;
const EXIT_USAGE = 2;

class SetupError extends Error {}

// The bridge folder: on macOS under "Library/Application Support" in the home folder, elsewhere
// under $XDG_DATA_HOME (when absolute) or "~/.local/share".
function bridgeFolder({ env, platform, home }) {
    if (platform === 'darwin') return path.join(home, 'Library', 'Application Support', 'Vantorel', 'statusline');
    const xdg = env.XDG_DATA_HOME;
    const base = typeof xdg === 'string' && path.isAbsolute(xdg) ? xdg : path.join(home, '.local', 'share');
    return path.join(base, 'Vantorel', 'statusline');
}

function homeFolder(env) {
    return typeof env.HOME === 'string' && path.isAbsolute(env.HOME) ? env.HOME : os.homedir();
}

// ---- the command line ----

function shellQuote(s) {
    return `'${s.replace(/'/g, "'\\''")}'`;
}

// The command this installer writes for a profile. `wrap` is the user's earlier command or null.
function buildCommand({ node, collector, provider, bridgeDir, configDir, home, wrap }) {
    const words = [shellQuote(node), shellQuote(collector), '--provider', provider,
        '--bridge-dir', shellQuote(bridgeDir), '--config-dir', shellQuote(configDir)];
    if (provider === 'claude') words.push('--home', shellQuote(home));
    if (wrap !== null && wrap !== undefined) words.push('--wrap', shellQuote(wrap));
    return words.join(' ');
}

// Splits a command built by buildCommand into its words; null for anything else.
function splitWords(cmd) {
    const words = [];
    let i = 0;
    while (i < cmd.length) {
        if (words.length > 0) {
            if (cmd[i] !== ' ') return null;
            i += 1;
        }
        let word = '';
        let quoted = false;
        for (;;) {
            if (cmd[i] === "'") {
                const end = cmd.indexOf("'", i + 1);
                if (end < 0) return null;
                word += cmd.slice(i + 1, end);
                i = end + 1;
                quoted = true;
            } else if (quoted && cmd.startsWith("\\'", i)) {
                word += "'";
                i += 2;
            } else {
                break;
            }
        }
        if (!quoted) {
            const m = /^[A-Za-z0-9_-]+/.exec(cmd.slice(i));
            if (!m) return null;
            word = m[0];
            i += word.length;
        }
        words.push(word);
    }
    return words;
}

// The parts of a command that this installer wrote (for any profile, node or collector path),
// or null when the command is not exactly such a command.
function parseCommand(cmd) {
    const words = splitWords(cmd);
    if (!words || words.length < 4 || path.basename(words[1]) !== COLLECTOR) return null;
    const parts = { node: words[0], collector: words[1], wrap: null };
    for (let i = 2; i < words.length; i += 2) {
        const name = OPTIONS[words[i]];
        if (!name || i + 1 >= words.length) return null;
        parts[name] = words[i + 1];
    }
    if (!PROVIDERS.includes(parts.provider)) return null;
    return buildCommand(parts) === cmd ? parts : null;
}

// ---- JSON text with positions ----

// Validates a JSON text whose top level is an object and returns that object's members with
// their positions; nested objects can be scanned the same way from their start.
function scanObject(text, start) {
    let i = start;
    const fail = () => { throw new SetupError(`settings.json: неверный JSON около позиции ${i}`); };
    const ws = () => { while (i < text.length && ' \t\n\r'.includes(text[i])) i += 1; };
    const string = () => {
        if (text[i] !== '"') fail();
        i += 1;
        for (;;) {
            if (i >= text.length) fail();
            const c = text.charCodeAt(i);
            if (c === 0x22) { i += 1; return; }
            if (c < 0x20) fail();
            if (c === 0x5c) {
                const e = text[i + 1];
                if (e === 'u') {
                    if (!/^[0-9a-fA-F]{4}$/.test(text.slice(i + 2, i + 6))) fail();
                    i += 6;
                } else if ('"\\/bfnrt'.includes(e) && e !== undefined) {
                    i += 2;
                } else {
                    fail();
                }
            } else {
                i += 1;
            }
        }
    };
    const number = /-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?/y;
    const value = (depth, members) => {
        if (depth > 512) fail();
        ws();
        const c = text[i];
        if (c === '{') {
            i += 1;
            ws();
            if (text[i] === '}') { i += 1; return; }
            for (;;) {
                ws();
                const keyStart = i;
                string();
                const keyEnd = i;
                ws();
                if (text[i] !== ':') fail();
                i += 1;
                ws();
                const valueStart = i;
                value(depth + 1, null);
                if (members) members.push({ key: JSON.parse(text.slice(keyStart, keyEnd)), keyStart, valueStart, valueEnd: i });
                ws();
                if (text[i] === ',') { i += 1; continue; }
                if (text[i] === '}') { i += 1; return; }
                fail();
            }
        } else if (c === '[') {
            i += 1;
            ws();
            if (text[i] === ']') { i += 1; return; }
            for (;;) {
                value(depth + 1, null);
                ws();
                if (text[i] === ',') { i += 1; continue; }
                if (text[i] === ']') { i += 1; return; }
                fail();
            }
        } else if (c === '"') {
            string();
        } else if (text.startsWith('true', i)) {
            i += 4;
        } else if (text.startsWith('false', i)) {
            i += 5;
        } else if (text.startsWith('null', i)) {
            i += 4;
        } else {
            number.lastIndex = i;
            if (!number.test(text)) fail();
            i = number.lastIndex;
        }
    };
    i = start;
    ws();
    if (text[i] !== '{') fail();
    const open = i;
    const members = [];
    value(0, members);
    return { open, close: i - 1, end: i, members };
}

function scanDocument(text) {
    const start = text.charCodeAt(0) === 0xfeff ? 1 : 0;
    const obj = scanObject(text, start);
    if (/[^ \t\n\r]/.test(text.slice(obj.end))) {
        throw new SetupError('settings.json: лишний текст после объекта');
    }
    return obj;
}

// Indentation of the line a member starts on, or null when something else precedes it there.
function lineIndent(text, pos) {
    const nl = text.lastIndexOf('\n', pos - 1);
    const lead = text.slice(nl + 1, pos);
    return nl >= 0 && /^[ \t]*$/.test(lead) ? lead : null;
}

function stringifyAt(value, unit, indent) {
    return JSON.stringify(value, null, unit).split('\n').join(`\n${indent}`);
}

// ---- settings ----

function statusLineValue(command) {
    return { type: 'command', command };
}

// The settings text with the collector connected, given what the settings hold now.
// Returns { text, kind } (text null when nothing changes) or throws SetupError.
function connectSettings(text, commandFor) {
    if (text === null) {
        const command = commandFor(null);
        return { text: `${JSON.stringify({ statusLine: statusLineValue(command) }, null, 2)}\n`, kind: 'script' };
    }
    const doc = scanDocument(text);
    const members = doc.members;
    const current = members.filter((m) => m.key === 'statusLine').pop();
    if (!current) {
        const command = commandFor(null);
        const value = statusLineValue(command);
        if (members.length === 0) {
            const inner = `\n  "statusLine": ${stringifyAt(value, '  ', '  ')}\n`;
            return { text: text.slice(0, doc.open + 1) + inner + text.slice(doc.close), kind: 'script' };
        }
        const last = members[members.length - 1];
        const indent = lineIndent(text, members[0].keyStart);
        const insert = indent === null
            ? `, "statusLine": ${JSON.stringify(value)}`
            : `,\n${indent}"statusLine": ${stringifyAt(value, indent || '  ', indent)}`;
        return { text: text.slice(0, last.valueEnd) + insert + text.slice(last.valueEnd), kind: 'script' };
    }
    const raw = JSON.parse(text.slice(current.valueStart, current.valueEnd));
    if (raw === null) {
        const command = commandFor(null);
        const indent = lineIndent(text, current.keyStart);
        const value = statusLineValue(command);
        const replacement = indent === null ? JSON.stringify(value) : stringifyAt(value, indent || '  ', indent);
        return { text: text.slice(0, current.valueStart) + replacement + text.slice(current.valueEnd), kind: 'script' };
    }
    if (typeof raw !== 'object' || Array.isArray(raw) || raw.type !== 'command' || typeof raw.command !== 'string') {
        throw new SetupError('statusLine настроен вручную иначе, чем командой; он не перезаписывается');
    }
    const existing = raw.command;
    let wrap = null;
    if (existing.trim() !== '') {
        const ours = parseCommand(existing);
        if (ours) {
            wrap = ours.wrap;
        } else if (existing.includes(COLLECTOR_STEM)) {
            throw new SetupError('команда statusLine изменена вручную; она не перезаписывается');
        } else {
            wrap = existing;
        }
    }
    const command = commandFor(wrap);
    const kind = wrap === null ? 'script' : 'wrapper';
    if (command === existing) return { text: null, kind };
    const inner = scanObject(text, current.valueStart).members.filter((m) => m.key === 'command').pop();
    return { text: text.slice(0, inner.valueStart) + JSON.stringify(command) + text.slice(inner.valueEnd), kind };
}

// ---- files ----

function readTextOrNull(file) {
    let bytes;
    try {
        bytes = fs.readFileSync(file);
    } catch (err) {
        if (err.code === 'ENOENT') return null;
        throw err;
    }
    const text = bytes.toString('utf8');
    if (!Buffer.from(text, 'utf8').equals(bytes)) throw new SetupError(`${file}: не UTF-8`);
    return text;
}

// Writes a temporary file beside the target, flushes it and renames it over the target.
// `unchanged` is checked just before the rename: when it says the target moved on, nothing is replaced.
function replaceFile(target, data, mode, unchanged) {
    const dir = path.dirname(target);
    const tmp = path.join(dir, `.${path.basename(target)}.vantorel-${process.pid}-${crypto.randomBytes(6).toString('hex')}.tmp`);
    const fd = fs.openSync(tmp, 'wx', 0o600);
    try {
        try {
            fs.writeFileSync(fd, data);
            fs.fchmodSync(fd, mode);
            fs.fsyncSync(fd);
        } finally {
            fs.closeSync(fd);
        }
        if (unchanged && !unchanged()) {
            fs.unlinkSync(tmp);
            return false;
        }
        fs.renameSync(tmp, target);
    } catch (err) {
        try { fs.unlinkSync(tmp); } catch { /* already gone */ }
        throw err;
    }
    try {
        const dfd = fs.openSync(dir, 'r');
        try { fs.fsyncSync(dfd); } finally { fs.closeSync(dfd); }
    } catch { /* the rename is done; flushing the folder is a courtesy */ }
    return true;
}

// Keeps the current settings as a backup unless an existing backup already holds exactly them.
function keepBackup(configDir, original) {
    for (let n = 1; n <= MAX_BACKUPS; n += 1) {
        const file = path.join(configDir, n === 1 ? BACKUP : `${BACKUP}-${n}`);
        let existing = null;
        try {
            existing = fs.readFileSync(file);
        } catch (err) {
            if (err.code !== 'ENOENT') throw err;
        }
        if (existing !== null) {
            if (existing.equals(original)) return file;
            continue;
        }
        let fd;
        try {
            fd = fs.openSync(file, 'wx', 0o600);
        } catch (err) {
            if (err.code === 'EEXIST') { n -= 1; continue; }
            throw err;
        }
        try {
            fs.writeFileSync(fd, original);
            fs.fsyncSync(fd);
        } finally {
            fs.closeSync(fd);
        }
        return file;
    }
    throw new SetupError('слишком много резервных копий settings.json');
}

function writeIfDifferent(file, text, mode) {
    let existing = null;
    try { existing = fs.readFileSync(file, 'utf8'); } catch (err) { if (err.code !== 'ENOENT') throw err; }
    if (existing === text) return false;
    replaceFile(file, text, mode, null);
    return true;
}

function parseArgs(argv) {
    const out = {};
    for (let i = 0; i < argv.length; i += 1) {
        if (argv[i] === '--config-dir' || argv[i] === '--node') {
            if (i + 1 >= argv.length) return null;
            out[argv[i] === '--config-dir' ? 'configDir' : 'node'] = argv[i + 1];
            i += 1;
        }
    }
    return out;
}

function lstatOrNull(p) {
    try {
        return fs.lstatSync(p);
    } catch {
        return null;
    }
}

function isExecutableFile(p) {
    try {
        fs.accessSync(p, fs.constants.X_OK);
        return fs.statSync(p).isFile();
    } catch {
        return false;
    }
}

// Connects the collector for one profile. Returns the exit status; says why on `log` otherwise.
function install(provider, { argv, env, platform, execPath, log }) {
    const args = parseArgs(argv);
    if (!PROVIDERS.includes(provider) || !args || !args.configDir || !path.isAbsolute(args.configDir)) {
        log('Использование: --config-dir <абсолютный путь профиля> --node <путь node>');
        return EXIT_USAGE;
    }
    try {
        const configDir = args.configDir;
        if (!fs.statSync(configDir).isDirectory()) throw new SetupError(`${configDir}: не папка`);
        const collector = path.join(__dirname, COLLECTOR);
        if (!fs.statSync(collector).isFile()) throw new SetupError(`${collector}: сборщик не найден`);
        const node = args.node && path.isAbsolute(args.node) && isExecutableFile(args.node) ? args.node : execPath;
        const home = homeFolder(env);
        const bridgeDir = bridgeFolder({ env, platform, home });
        fs.mkdirSync(bridgeDir, { recursive: true, mode: 0o700 });
        const commandFor = (wrap) => buildCommand({ node, collector, provider, bridgeDir, configDir, home, wrap });

        const settingsPath = path.join(configDir, SETTINGS);
        let kind = null;
        for (let attempt = 0; attempt < 3 && kind === null; attempt += 1) {
            const original = readTextOrNull(settingsPath);
            if (original === null && lstatOrNull(settingsPath)) throw new SetupError(`${settingsPath}: ссылка никуда не ведёт`);
            const target = original === null ? settingsPath : fs.realpathSync(settingsPath);
            const result = connectSettings(original, commandFor);
            if (result.text === null) {
                kind = result.kind;
                break;
            }
            let mode = 0o600;
            if (original !== null) {
                try {
                    fs.accessSync(target, fs.constants.W_OK);
                } catch {
                    throw new SetupError(`${target}: файл защищён от записи`);
                }
                mode = fs.statSync(target).mode & 0o7777;
                keepBackup(configDir, Buffer.from(original, 'utf8'));
            }
            const same = () => readTextOrNull(settingsPath) === original;
            if (replaceFile(target, result.text, mode, same)) kind = result.kind;
        }
        if (kind === null) throw new SetupError('settings.json меняется другим процессом');

        if (provider === 'claude') {
            writeIfDifferent(path.join(configDir, CLAUDE_MARKER), `${JSON.stringify({ kind })}\n`, 0o600);
        }
        return EXIT_CONNECTED;
    } catch (err) {
        log(`Сборщик Vantorel не подключён: ${err.message}`);
        return EXIT_NOT_CONNECTED;
    }
}

function run(provider) {
    const status = install(provider, {
        argv: process.argv.slice(2),
        env: process.env,
        platform: process.platform,
        execPath: process.execPath,
        log: (m) => process.stderr.write(`${m}\n`),
    });
    process.exitCode = status;
}

module.exports = {
    COLLECTOR,
    SETTINGS,
    BACKUP,
    EXIT_CONNECTED,
    EXIT_NOT_CONNECTED,
    EXIT_USAGE,
    bridgeFolder,
    shellQuote,
    buildCommand,
    parseCommand,
    connectSettings,
    install,
    run,
};
