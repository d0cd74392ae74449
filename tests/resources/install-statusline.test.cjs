'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const s = require('./statusline-support.cjs');
const installer = require(path.join(s.RESOURCES, 'statusline-installer.cjs'));

const PROVIDERS = ['claude', 'antigravity'];
const MARKER = '.vantorel-claude-statusline.json';

function profileFor(t, provider) {
    const home = s.makeHome(t);
    const configDir = provider === 'claude'
        ? path.join(home, '.claude-team')
        : path.join(home, '.gemini', 'antigravity-cli');
    fs.mkdirSync(configDir, { recursive: true });
    if (provider === 'claude') s.writeClaudeAccount(path.join(configDir, '.claude.json'), 'acc-1', 'org-1');
    return { home, configDir, settings: path.join(configDir, 'settings.json') };
}

function expectedCommand(provider, { home, configDir }, wrap) {
    const words = [s.quote(s.NODE), s.quote(s.COLLECTOR), '--provider', provider,
        '--bridge-dir', s.quote(s.defaultBridge(home)), '--config-dir', s.quote(configDir)];
    if (provider === 'claude') words.push('--home', s.quote(home));
    if (wrap !== undefined) words.push('--wrap', s.quote(wrap));
    return words.join(' ');
}

function backups(configDir) {
    return fs.readdirSync(configDir).filter((n) => n.includes('vantorel-backup')).sort();
}

function tempLeftovers(dir) {
    return fs.readdirSync(dir).filter((n) => n.endsWith('.tmp'));
}

const INPUT = JSON.stringify({
    model: { display_name: 'Opus' },
    rate_limits: { five_hour: { used_percentage: 10, resets_at: 4102444800 }, seven_day: { used_percentage: 20, resets_at: 4102444800 } },
});

for (const provider of PROVIDERS) {
    test(`${provider}: fresh profile gets the collector, the bridge folder and the marker`, (t) => {
        const p = profileFor(t, provider);
        const r = s.runInstaller(provider, p.configDir, { home: p.home });
        assert.equal(r.status, 0, r.stderr);
        assert.deepEqual(s.readJson(p.settings), { statusLine: { type: 'command', command: expectedCommand(provider, p) } });
        assert.deepEqual(backups(p.configDir), [], 'nothing to back up');
        const bridge = s.defaultBridge(p.home);
        assert.equal(fs.statSync(bridge).mode & 0o777, 0o700);
        if (provider === 'claude') {
            assert.equal(fs.readFileSync(path.join(p.configDir, MARKER), 'utf8'), '{"kind":"script"}\n');
        } else {
            assert.ok(!fs.existsSync(path.join(p.configDir, MARKER)));
        }
        // The installed command runs through the shell as the tool runs it, with no environment of its own.
        const run = s.runCommand(s.statusLineCommand(p.configDir), INPUT, { env: { PATH: '/usr/bin:/bin' } });
        assert.equal(run.status, 0);
        assert.match(run.stdout.toString(), /^Opus/);
        assert.equal(fs.readdirSync(bridge).filter((n) => n.endsWith('.json')).length, 1);
    });

    test(`${provider}: other settings are kept byte for byte`, (t) => {
        // `replaced` is the only original text that may be gone: the rest stays, byte for byte
        // (the quotes of an empty command string stay as the quotes of the new one).
        const cases = [
            { name: 'indented', text: '{\n\t"model": "opus",\n\t"big": 12345678901234567890,\n\t"1": {"x": [1, 2.50, -0]},\n\t"тема": "тёмная"\n}\n', replaced: '' },
            { name: 'one line', text: '{"a":1,"b":{"c":null}}', replaced: '' },
            { name: 'empty object', text: '{ }\n', replaced: ' ' },
            { name: 'null statusLine', text: '{\n  "statusLine": null,\n  "z": true\n}\n', replaced: 'null' },
            { name: 'empty command with padding', text: '{\n  "statusLine": {"type": "command", "command": "", "padding": 2},\n  "z": 1e400\n}\n', replaced: '' },
        ];
        for (const c of cases) {
            const p = profileFor(t, provider);
            fs.writeFileSync(p.settings, c.text);
            const r = s.runInstaller(provider, p.configDir, { home: p.home });
            assert.equal(r.status, 0, `${c.name}: ${r.stderr}`);
            const after = fs.readFileSync(p.settings, 'utf8');
            const command = expectedCommand(provider, p);
            const parsed = JSON.parse(after);
            const before = JSON.parse(c.text);
            assert.deepEqual(parsed.statusLine, { ...(before.statusLine || {}), type: 'command', command }, c.name);
            delete parsed.statusLine;
            delete before.statusLine;
            assert.deepEqual(parsed, before, c.name);
            let head = 0;
            while (head < c.text.length && c.text[head] === after[head]) head += 1;
            let tail = 0;
            while (tail < c.text.length - head && c.text[c.text.length - 1 - tail] === after[after.length - 1 - tail]) tail += 1;
            assert.equal(c.text.slice(head, c.text.length - tail), c.replaced, `${c.name}: ${after}`);
            assert.equal(fs.readFileSync(path.join(p.configDir, installer.BACKUP), 'utf8'), c.text, c.name);
        }
    });

    test(`${provider}: an earlier user command is wrapped and its output passes through`, (t) => {
        const p = profileFor(t, provider);
        const user = "printf 'mine:'; cat; printf '\\n'";
        const original = `${JSON.stringify({ theme: 'dark', statusLine: { type: 'command', command: user, padding: 0 } }, null, 2)}\n`;
        fs.writeFileSync(p.settings, original);
        const r = s.runInstaller(provider, p.configDir, { home: p.home });
        assert.equal(r.status, 0, r.stderr);
        assert.deepEqual(s.readJson(p.settings), {
            theme: 'dark', statusLine: { type: 'command', command: expectedCommand(provider, p, user), padding: 0 },
        });
        assert.equal(fs.readFileSync(path.join(p.configDir, installer.BACKUP), 'utf8'), original);
        if (provider === 'claude') assert.equal(fs.readFileSync(path.join(p.configDir, MARKER), 'utf8'), '{"kind":"wrapper"}\n');

        const run = s.runCommand(s.statusLineCommand(p.configDir), INPUT);
        assert.equal(run.status, 0);
        assert.equal(run.stdout.toString(), `mine:${INPUT}\n`, 'the user command sees the same input; its output is printed as is');
        assert.equal(fs.readdirSync(s.defaultBridge(p.home)).filter((n) => n.endsWith('.json')).length, 1, 'bridge written too');
    });

    test(`${provider}: a command changed by hand is left alone`, (t) => {
        const p0 = profileFor(t, provider);
        const ours = expectedCommand(provider, p0);
        const cases = [
            { name: 'argument appended', statusLine: { type: 'command', command: `${ours} --verbose` } },
            { name: 'piped', statusLine: { type: 'command', command: `${ours} | tr a-z A-Z` } },
            { name: 'requoted', statusLine: { type: 'command', command: `"${s.NODE}" "${s.COLLECTOR}" --provider ${provider}` } },
            { name: 'not a command', statusLine: { type: 'static', text: 'hello' } },
            { name: 'command not a string', statusLine: { type: 'command', command: ['ls'] } },
        ];
        for (const c of cases) {
            const p = profileFor(t, provider);
            const command = typeof c.statusLine.command === 'string' ? c.statusLine.command.split(p0.home).join(p.home) : c.statusLine.command;
            const text = `${JSON.stringify({ statusLine: { ...c.statusLine, command } })}\n`;
            fs.writeFileSync(p.settings, text);
            const before = s.folderState(p.configDir);
            const r = s.runInstaller(provider, p.configDir, { home: p.home });
            assert.equal(r.status, 1, c.name);
            assert.deepEqual(s.folderState(p.configDir), before, `${c.name}: nothing written, no backup, no marker`);
        }
    });

    test(`${provider}: installing twice changes nothing`, (t) => {
        for (const start of [null, '{"statusLine":{"type":"command","command":"echo hi"}}']) {
            const p = profileFor(t, provider);
            if (start !== null) fs.writeFileSync(p.settings, start);
            assert.equal(s.runInstaller(provider, p.configDir, { home: p.home }).status, 0);
            const first = s.folderState(p.configDir);
            const bridge = s.folderState(path.dirname(s.defaultBridge(p.home)));
            const r = s.runInstaller(provider, p.configDir, { home: p.home });
            assert.equal(r.status, 0, r.stderr);
            assert.deepEqual(s.folderState(p.configDir), first, 'same bytes, same files, nothing replaced');
            assert.deepEqual(s.folderState(path.dirname(s.defaultBridge(p.home))), bridge);
            if (provider === 'claude') {
                // A lost marker comes back; the settings stay as they are.
                const marker = path.join(p.configDir, MARKER);
                const kind = fs.readFileSync(marker, 'utf8');
                fs.unlinkSync(marker);
                assert.equal(s.runInstaller(provider, p.configDir, { home: p.home }).status, 0);
                assert.equal(fs.readFileSync(marker, 'utf8'), kind);
                assert.equal(fs.statSync(p.settings).ino, first['settings.json'].ino);
            }
        }
    });

    test(`${provider}: an earlier backup is never overwritten`, (t) => {
        const p = profileFor(t, provider);
        const earlier = path.join(p.configDir, installer.BACKUP);
        fs.writeFileSync(earlier, 'older backup\n');
        const original = '{"statusLine":{"type":"command","command":"echo first"}}\n';
        fs.writeFileSync(p.settings, original);
        assert.equal(s.runInstaller(provider, p.configDir, { home: p.home }).status, 0);
        assert.equal(fs.readFileSync(earlier, 'utf8'), 'older backup\n');
        assert.equal(fs.readFileSync(`${earlier}-2`, 'utf8'), original);

        // Our own command with another node (the app found node elsewhere) is updated, the
        // wrapped command kept, and the settings before that change get a backup of their own.
        const otherNode = path.join(p.home, 'node');
        fs.symlinkSync(s.NODE, otherNode);
        const connected = fs.readFileSync(p.settings, 'utf8');
        const r = s.runInstaller(provider, p.configDir, { home: p.home, node: otherNode });
        assert.equal(r.status, 0, r.stderr);
        assert.equal(s.statusLineCommand(p.configDir), expectedCommand(provider, p, 'echo first').replace(s.quote(s.NODE), s.quote(otherNode)));
        assert.deepEqual(backups(p.configDir), [installer.BACKUP, `${installer.BACKUP}-2`, `${installer.BACKUP}-3`]);
        assert.equal(fs.readFileSync(earlier, 'utf8'), 'older backup\n');
        assert.equal(fs.readFileSync(`${earlier}-2`, 'utf8'), original);
        assert.equal(fs.readFileSync(`${earlier}-3`, 'utf8'), connected);
    });

    test(`${provider}: settings are replaced atomically and never half written`, (t) => {
        const p = profileFor(t, provider);
        fs.writeFileSync(p.settings, '{"a": 1}\n', { mode: 0o640 });
        fs.chmodSync(p.settings, 0o640);
        const inode = fs.statSync(p.settings).ino;
        assert.equal(s.runInstaller(provider, p.configDir, { home: p.home }).status, 0);
        const st = fs.statSync(p.settings);
        assert.notEqual(st.ino, inode, 'a new file renamed into place');
        assert.equal(st.mode & 0o777, 0o640, 'permissions kept');
        assert.equal(fs.statSync(path.join(p.configDir, installer.BACKUP)).mode & 0o777, 0o600);
        assert.deepEqual(tempLeftovers(p.configDir), []);

        // A settings file that is a link: the link stays, its target is updated.
        const q = profileFor(t, provider);
        const real = path.join(q.home, 'dotfiles-settings.json');
        fs.writeFileSync(real, '{"b": 2}\n');
        fs.symlinkSync(real, q.settings);
        assert.equal(s.runInstaller(provider, q.configDir, { home: q.home }).status, 0);
        assert.ok(fs.lstatSync(q.settings).isSymbolicLink());
        assert.equal(s.readJson(real).b, 2);
        assert.equal(s.readJson(real).statusLine.command, expectedCommand(provider, q));
        assert.deepEqual(tempLeftovers(path.dirname(real)), []);
    });

    test(`${provider}: settings that cannot be read safely are not touched`, (t) => {
        const cases = [
            { name: 'not JSON', bytes: Buffer.from('{"a": 1,,}') },
            { name: 'an array', bytes: Buffer.from('[1, 2]') },
            { name: 'trailing text', bytes: Buffer.from('{"a": 1} x') },
            { name: 'not UTF-8', bytes: Buffer.from([0x7b, 0x22, 0x61, 0x22, 0x3a, 0x22, 0xff, 0x22, 0x7d]) },
        ];
        for (const c of cases) {
            const p = profileFor(t, provider);
            fs.writeFileSync(p.settings, c.bytes);
            const before = s.folderState(p.configDir);
            const r = s.runInstaller(provider, p.configDir, { home: p.home });
            assert.equal(r.status, 1, c.name);
            assert.deepEqual(s.folderState(p.configDir), before, c.name);
        }
    });
}

test('arguments: the node given, or the running node; a missing profile folder fails', (t) => {
    const p = profileFor(t, 'claude');
    assert.equal(s.runInstaller('claude', p.configDir, { home: p.home, args: ['--config-dir', p.configDir] }).status, 0);
    assert.ok(s.statusLineCommand(p.configDir).startsWith(`${s.quote(s.NODE)} `));
    assert.equal(s.runInstaller('claude', null, { home: p.home, args: [] }).status, 2);
    assert.equal(s.runInstaller('claude', null, { home: p.home, args: ['--config-dir', 'relative/dir'] }).status, 2);
    assert.equal(s.runInstaller('claude', path.join(p.home, 'missing'), { home: p.home }).status, 1);
    assert.ok(!fs.existsSync(path.join(p.home, 'missing')));
});

test('the bridge folder follows the platform and XDG_DATA_HOME', (t) => {
    const cases = [
        { env: {}, platform: 'linux', want: '/h/.local/share/Vantorel/statusline' },
        { env: { XDG_DATA_HOME: '/data' }, platform: 'linux', want: '/data/Vantorel/statusline' },
        { env: { XDG_DATA_HOME: 'relative' }, platform: 'linux', want: '/h/.local/share/Vantorel/statusline' },
        { env: { XDG_DATA_HOME: '' }, platform: 'linux', want: '/h/.local/share/Vantorel/statusline' },
        { env: { XDG_DATA_HOME: '/data' }, platform: 'darwin', want: '/h/Library/Application Support/Vantorel/statusline' },
    ];
    for (const c of cases) assert.equal(installer.bridgeFolder({ env: c.env, platform: c.platform, home: '/h' }), c.want);

    // The installer writes the folder it chose into the command and creates it.
    const p = profileFor(t, 'antigravity');
    const data = path.join(p.home, 'xdg data');
    const r = s.runInstaller('antigravity', p.configDir, { env: s.childEnv(p.home, { XDG_DATA_HOME: data }) });
    assert.equal(r.status, 0, r.stderr);
    const folder = path.join(data, 'Vantorel', 'statusline');
    assert.ok(s.statusLineCommand(p.configDir).includes(`--bridge-dir ${s.quote(folder)}`));
    assert.equal(fs.statSync(folder).mode & 0o777, 0o700);
});

test('only commands this installer wrote count as its own', () => {
    const parts = { node: '/n', collector: "/r e's/vantorel-statusline.cjs", provider: 'claude', bridgeDir: '/b', configDir: '/c', home: '/h', wrap: "echo 'x' | y" };
    const cmd = installer.buildCommand(parts);
    assert.deepEqual(installer.parseCommand(cmd), parts);
    for (const other of [`${cmd} `, ` ${cmd}`, cmd.replace('--home', '--homes'), cmd.replace('claude', 'codex'),
        cmd.replace("'/n'", '/n'), "'/n' '/x/other.cjs' --provider claude", '']) {
        assert.equal(installer.parseCommand(other), null, other);
    }
});
