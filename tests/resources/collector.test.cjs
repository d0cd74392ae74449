'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const s = require('./statusline-support.cjs');
const collector = require(s.COLLECTOR);

const ACCOUNT = '11111111-2222-4333-8444-555555555555';
const ORGANIZATION = 'aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee';
const ACCOUNT_KEY = s.sha256Hex(`${ACCOUNT}\0${ORGANIZATION}`);
const FUTURE = 4102444800; // 2100-01-01
const FIXTURE_NOW = 1767225600.25;
const FIXTURE_ANTIGRAVITY_DIR = '/home/fixture/.gemini/antigravity-cli';
const FIXTURE_CREDENTIAL_TIME = 1767225000.5;

function claudeProfile(t, folder = '.claude-team') {
    const home = s.makeHome(t);
    const configDir = path.join(home, folder);
    fs.mkdirSync(configDir);
    const accountFile = folder === '.claude' ? path.join(home, '.claude.json') : path.join(configDir, '.claude.json');
    s.writeClaudeAccount(accountFile, ACCOUNT, ORGANIZATION);
    const bridgeDir = s.defaultBridge(home);
    const id = s.sha256Hex(`claude\0${configDir}`);
    const args = ['--provider', 'claude', '--bridge-dir', bridgeDir, '--config-dir', configDir, '--home', home];
    return { home, configDir, bridgeDir, args, accountFile, id };
}

function antigravityProfile(t) {
    const home = s.makeHome(t);
    const configDir = path.join(home, '.gemini', 'antigravity-cli');
    fs.mkdirSync(configDir, { recursive: true });
    const bridgeDir = s.defaultBridge(home);
    const id = s.sha256Hex(`antigravity\0${configDir}`);
    const args = ['--provider', 'antigravity', '--bridge-dir', bridgeDir, '--config-dir', configDir];
    return { home, configDir, bridgeDir, args, id, file: path.join(bridgeDir, `${id}.json`) };
}

function bridgeFiles(dir) {
    try {
        return fs.readdirSync(dir).sort();
    } catch {
        return [];
    }
}

function limits(fiveHour, sevenDay) {
    const rl = {};
    if (fiveHour !== undefined) rl.five_hour = fiveHour;
    if (sevenDay !== undefined) rl.seven_day = sevenDay;
    return JSON.stringify({ model: { display_name: 'Opus' }, rate_limits: rl });
}

test('claude: the windows of the input become the bridge file', (t) => {
    const cases = [
        { name: 'both', input: limits({ used_percentage: 23.5, resets_at: FUTURE }, { used_percentage: 41, resets_at: FUTURE + 1 }),
            want: { five_hour: { used_percentage: 23.5, resets_at: FUTURE }, seven_day: { used_percentage: 41, resets_at: FUTURE + 1 } }, line: 'Opus · 5 ч 24% · неделя 41%' },
        { name: 'five hours only', input: limits({ used_percentage: 100, resets_at: FUTURE }),
            want: { five_hour: { used_percentage: 100, resets_at: FUTURE } }, line: 'Opus · 5 ч 100%' },
        { name: 'week only', input: limits(undefined, { used_percentage: 0, resets_at: 1000 }),
            want: { seven_day: { used_percentage: 0, resets_at: 1000 } }, line: 'Opus · неделя 0%' },
        { name: 'unused five hours without a reset time', input: limits({ used_percentage: 0 }, { used_percentage: 3 }),
            want: { five_hour: { used_percentage: 0 } }, line: 'Opus · 5 ч 0%' },
        { name: 'over 100 shows as 100, negative and mistyped are dropped', input: limits({ used_percentage: 130, resets_at: FUTURE }, { used_percentage: -1, resets_at: FUTURE }),
            want: { five_hour: { used_percentage: 100, resets_at: FUTURE } }, line: 'Opus · 5 ч 100%' },
        { name: 'a reset time that is not a number', input: limits({ used_percentage: 5, resets_at: '2100-01-01T00:00:00Z' }, { used_percentage: '5', resets_at: FUTURE }),
            want: null, line: 'Opus' },
        { name: 'none', input: JSON.stringify({ model: { display_name: 'Opus' } }), want: null, line: 'Opus' },
    ];
    for (const c of cases) {
        const p = claudeProfile(t);
        const before = Date.now() / 1000;
        const r = s.runCollector(p.args, c.input);
        const after = Date.now() / 1000;
        assert.equal(r.status, 0, c.name);
        assert.equal(r.stdout.toString(), `${c.line}\n`, c.name);
        const id = p.id;
        if (c.want === null) {
            assert.deepEqual(bridgeFiles(p.bridgeDir), [], `${c.name}: nothing to write`);
            continue;
        }
        assert.deepEqual(bridgeFiles(p.bridgeDir), [`${id}.json`], c.name);
        const text = fs.readFileSync(path.join(p.bridgeDir, `${id}.json`), 'utf8');
        const snap = JSON.parse(text);
        assert.deepEqual(Object.keys(snap), ['version', 'profileId', 'accountKey', 'capturedAt', 'rate_limits'], c.name);
        assert.equal(snap.version, 1);
        assert.equal(snap.profileId, id);
        assert.equal(snap.accountKey, ACCOUNT_KEY);
        assert.ok(snap.capturedAt >= before - 0.001 && snap.capturedAt <= after + 0.001, c.name);
        assert.deepEqual(snap.rate_limits, c.want, c.name);
        assert.ok(Buffer.byteLength(text) <= 16384);
        assert.equal(fs.statSync(path.join(p.bridgeDir, `${id}.json`)).mode & 0o777, 0o600);
    }
});

test('claude: the file name and account follow the profile folder', (t) => {
    const input = limits({ used_percentage: 1, resets_at: FUTURE });
    const cases = [
        { folder: '.claude-personal', stem: () => 'personal' },
        { folder: '.claude-work', stem: () => 'work' },
        { folder: '.claude', stem: (p) => p.id }, // account in the home folder
        { folder: 'elsewhere', stem: (p) => p.id },
    ];
    for (const c of cases) {
        const p = claudeProfile(t, c.folder);
        assert.equal(s.runCollector(p.args, input).status, 0);
        assert.deepEqual(bridgeFiles(p.bridgeDir), [`${c.stem(p)}.json`], c.folder);
        const snap = s.readJson(path.join(p.bridgeDir, `${c.stem(p)}.json`));
        assert.equal(snap.profileId, c.stem(p));
        assert.equal(snap.accountKey, ACCOUNT_KEY);
    }
    // Without a signed-in account nothing is written, and the line still shows.
    for (const account of [null, '{}', '{"oauthAccount":{"accountUuid":"a"}}', '{"oauthAccount":{"accountUuid":"","organizationUuid":"o"}}', 'not json']) {
        const p = claudeProfile(t);
        if (account === null) fs.unlinkSync(p.accountFile);
        else fs.writeFileSync(p.accountFile, account);
        const r = s.runCollector(p.args, input);
        assert.equal(r.status, 0);
        assert.equal(r.stdout.toString(), 'Opus · 5 ч 1%\n');
        assert.deepEqual(bridgeFiles(p.bridgeDir), [], String(account));
    }
});

test('any failure still prints a line and exits 0', (t) => {
    const p = claudeProfile(t);
    const a = antigravityProfile(t);
    const good = limits({ used_percentage: 7, resets_at: FUTURE });
    const blocked = path.join(p.home, 'a file');
    fs.writeFileSync(blocked, '');
    const cases = [
        { name: 'not JSON', args: p.args, input: 'garbage {', line: 'Claude Code' },
        { name: 'binary', args: p.args, input: Buffer.from([0xff, 0x00, 0xfe, 0x7b]), line: 'Claude Code' },
        { name: 'empty', args: p.args, input: '', line: 'Claude Code' },
        { name: 'an array', args: p.args, input: '[1,2]', line: 'Claude Code' },
        { name: 'mistyped fields', args: p.args, input: '{"model":"x","rate_limits":[1]}', line: 'Claude Code' },
        { name: 'control characters in the model', args: p.args, input: '{"model":{"display_name":"a\\u001b[31m\\nb"}}', line: 'a [31m b' },
        { name: 'bridge folder under a file', args: p.args.map((x) => (x === p.bridgeDir ? path.join(blocked, 'statusline') : x)), input: good, line: 'Opus · 5 ч 7%' },
        { name: 'relative bridge folder', args: p.args.map((x) => (x === p.bridgeDir ? 'statusline' : x)), input: good, line: 'Opus · 5 ч 7%' },
        { name: 'no arguments', args: [], input: good, line: 'Opus' },
        { name: 'no arguments, no input', args: [], input: '', line: 'Vantorel' },
        { name: 'antigravity, garbage', args: a.args, input: '\u0000\u0001', line: 'Antigravity' },
        { name: 'antigravity, bridge folder under a file', args: a.args.map((x) => (x === a.bridgeDir ? path.join(blocked, 'x') : x)), input: '{}', line: 'Antigravity' },
    ];
    for (const c of cases) {
        const r = s.runCollector(c.args, c.input, { PATH: '/usr/bin:/bin' });
        assert.equal(r.status, 0, c.name);
        assert.equal(r.stdout.toString(), `${c.line}\n`, c.name);
    }
    assert.deepEqual(bridgeFiles(p.bridgeDir), [], 'garbage writes nothing');
    assert.equal(fs.readFileSync(blocked, 'utf8'), '');

    // The bridge file's name is taken by a folder: the rename fails and no temporary file stays.
    fs.mkdirSync(path.join(p.bridgeDir, `${p.id}.json`), { recursive: true });
    const r = s.runCollector(p.args, good);
    assert.equal(r.status, 0);
    assert.equal(r.stdout.toString(), 'Opus · 5 ч 7%\n');
    assert.deepEqual(bridgeFiles(p.bridgeDir).filter((n) => n.endsWith('.tmp')), []);
});

test('standard input that never ends does not hold the tool', async (t) => {
    const p = claudeProfile(t);
    const child = spawn(s.NODE, [s.COLLECTOR, ...p.args], { stdio: ['pipe', 'pipe', 'inherit'] });
    child.stdin.write(limits({ used_percentage: 2, resets_at: FUTURE }));
    let out = '';
    child.stdout.on('data', (d) => { out += d; });
    const status = await new Promise((resolve) => child.on('exit', resolve));
    child.stdin.destroy();
    assert.equal(status, 0);
    assert.equal(out, 'Opus · 5 ч 2%\n');
    assert.equal(bridgeFiles(p.bridgeDir).length, 1);
});

test('each write renames a new file into place and keeps no temporary file', (t) => {
    const p = claudeProfile(t);
    const file = path.join(p.bridgeDir, `${p.id}.json`);
    assert.equal(s.runCollector(p.args, limits({ used_percentage: 1, resets_at: FUTURE })).status, 0);
    const first = fs.statSync(file).ino;
    assert.equal(s.runCollector(p.args, limits({ used_percentage: 2, resets_at: FUTURE })).status, 0);
    assert.notEqual(fs.statSync(file).ino, first);
    assert.equal(s.readJson(file).rate_limits.five_hour.used_percentage, 2);
    assert.deepEqual(bridgeFiles(p.bridgeDir), [path.basename(file)]);

    // An input without windows leaves the last observation in place.
    const kept = fs.readFileSync(file);
    assert.equal(s.runCollector(p.args, '{}').status, 0);
    assert.deepEqual(fs.readFileSync(file), kept);

    // A huge input still makes a small file.
    const big = JSON.parse(limits({ used_percentage: 3, resets_at: FUTURE }, { used_percentage: 4, resets_at: FUTURE }));
    big.padding = 'x'.repeat(500000);
    big.rate_limits.extra = { used_percentage: 1, resets_at: FUTURE, name: 'y'.repeat(100000) };
    assert.equal(s.runCollector(p.args, JSON.stringify(big)).status, 0);
    assert.ok(fs.statSync(file).size <= 16384);
    assert.deepEqual(Object.keys(s.readJson(file).rate_limits), ['five_hour', 'seven_day']);
});

test('antigravity: the bridge file names the profile and the credential file time', (t) => {
    for (const credential of [FIXTURE_CREDENTIAL_TIME, 1767225000.123456, null]) {
        const p = antigravityProfile(t);
        if (credential !== null) {
            const file = path.join(p.configDir, 'antigravity-oauth-token');
            fs.writeFileSync(file, 'secret');
            fs.utimesSync(file, credential, credential);
        }
        const before = Date.now() / 1000;
        const r = s.runCollector(p.args, '{"model":{"display_name":"Gemini 3 Pro"}}');
        assert.equal(r.status, 0);
        assert.equal(r.stdout.toString(), 'Gemini 3 Pro\n');
        assert.deepEqual(bridgeFiles(p.bridgeDir), [path.basename(p.file)]);
        const text = fs.readFileSync(p.file, 'utf8');
        assert.ok(Buffer.byteLength(text) <= 32768);
        assert.ok(!text.includes('secret'));
        const snap = JSON.parse(text);
        const keys = ['version', 'profileId', 'accountKey', 'capturedAt'];
        if (credential !== null) keys.push('credentialModifiedAt');
        keys.push('quota');
        assert.deepEqual(Object.keys(snap), keys);
        assert.equal(snap.version, 1);
        assert.equal(snap.profileId, p.id);
        assert.match(snap.accountKey, /^[0-9a-f]{64}$/);
        assert.ok(snap.capturedAt >= before - 0.001 && snap.capturedAt <= Date.now() / 1000 + 0.001);
        if (credential !== null) assert.ok(Math.abs(snap.credentialModifiedAt - credential) < 0.000001, String(snap.credentialModifiedAt));
        assert.deepEqual(snap.quota, {});
    }
});

test('a wrapped command prints its own output; a failed one gives our line', (t) => {
    const p = antigravityProfile(t);
    const cases = [
        { wrap: "printf 'a\\tb\\n'; printf 'two\\n'", out: 'a\tb\ntwo\n' },
        { wrap: 'cat', out: '{"model":{"display_name":"M"}}' },
        { wrap: 'printf partial; exit 4', out: 'partial' },
        { wrap: 'exit 3', out: 'M\n' },
        { wrap: ':', out: '' },
        { wrap: 'no-such-program-vantorel', out: 'M\n' },
    ];
    for (const c of cases) {
        const r = s.runCollector([...p.args, '--wrap', c.wrap], '{"model":{"display_name":"M"}}');
        assert.equal(r.status, 0, c.wrap);
        assert.equal(r.stdout.toString(), c.out, c.wrap);
    }
    assert.ok(fs.existsSync(p.file));
});

test('the fixtures are what the collector writes', (t) => {
    const input = fs.readFileSync(path.join(s.FIXTURES, 'claude-statusline-input.json'));
    const claudeFixture = fs.readFileSync(path.join(s.FIXTURES, 'claude-bridge.json'), 'utf8');
    const antigravityFixture = fs.readFileSync(path.join(s.FIXTURES, 'antigravity-bridge.json'), 'utf8');

    // Claude: a ".claude-work" profile, so the name does not depend on the home folder.
    const p = claudeProfile(t, '.claude-work');
    assert.equal(s.runCollector(p.args, input).status, 0);
    const written = s.readJson(path.join(p.bridgeDir, 'work.json'));
    assert.equal(`${JSON.stringify({ ...written, capturedAt: FIXTURE_NOW })}\n`, claudeFixture);
    assert.equal(collector.serialize(collector.claudeSnapshot({ stem: 'work', accountKey: ACCOUNT_KEY, now: FIXTURE_NOW, input: JSON.parse(input) })), claudeFixture);

    // Antigravity: the profile id and key belong to the fixture's folder.
    const a = antigravityProfile(t);
    const credential = path.join(a.configDir, 'antigravity-oauth-token');
    fs.writeFileSync(credential, '');
    fs.utimesSync(credential, FIXTURE_CREDENTIAL_TIME, FIXTURE_CREDENTIAL_TIME);
    assert.equal(s.runCollector(a.args, '{}').status, 0);
    const fixtureId = s.sha256Hex(`antigravity\0${FIXTURE_ANTIGRAVITY_DIR}`);
    const fromRun = s.readJson(a.file);
    const expected = {
        ...fromRun,
        profileId: fixtureId,
        accountKey: collector.antigravityAccountKey(fixtureId, FIXTURE_CREDENTIAL_TIME),
        capturedAt: FIXTURE_NOW,
    };
    assert.equal(`${JSON.stringify(expected)}\n`, antigravityFixture);
});
