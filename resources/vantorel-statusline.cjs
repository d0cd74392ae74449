'use strict';
// Vantorel statusLine collector. The tool runs it as its statusLine command with the
// statusLine input on standard input. It writes the profile's bridge file into the bridge
// folder (temporary file, then rename) and prints the status line. When it wraps the user's
// own command, that command's output is printed instead. It never fails the tool: whatever
// goes wrong, it prints a line and exits 0.
//
//   node vantorel-statusline.cjs --provider claude --bridge-dir DIR --config-dir DIR --home DIR [--wrap CMD]
//   node vantorel-statusline.cjs --provider antigravity --bridge-dir DIR --config-dir DIR [--wrap CMD]

const fs = require('fs');
const path = require('path');
const crypto = require('crypto');

const FORMAT_VERSION = 1;
const CLAUDE_BRIDGE_LIMIT = 16384;
const ANTIGRAVITY_BRIDGE_LIMIT = 32768;
const CLAUDE_MARKER = '.vantorel-claude-statusline.json';
const ANTIGRAVITY_CREDENTIAL = 'antigravity-oauth-token';
const INPUT_LIMIT = 1 << 20;
const INPUT_TIMEOUT_MS = 2000;
const WRAPPED_TIMEOUT_MS = 10000;
const CLAUDE_CONFIG_LIMIT = 64 << 20;
const TITLES = { claude: 'Claude Code', antigravity: 'Antigravity' };
// The command line options and the names they are read into; the installer reads its commands by them too.
const OPTIONS = { '--provider': 'provider', '--bridge-dir': 'bridgeDir', '--config-dir': 'configDir', '--home': 'home', '--wrap': 'wrap' };

// The tool's name, shown when nothing better is known.
function titleOf(provider) {
    return TITLES[provider] || 'Vantorel';
}

function sha256Hex(text) {
    return crypto.createHash('sha256').update(text, 'utf8').digest('hex');
}

// Identifier of a profile: SHA-256 of the provider, NUL, the folder exactly as stored.
function profileId(provider, configDir) {
    return sha256Hex(`${provider}\0${configDir}`);
}

// Standardised, link-resolved path; a path that does not exist is only standardised.
function resolvedPath(p) {
    try {
        return fs.realpathSync(p);
    } catch {
        return path.resolve(p);
    }
}

// Stem of a Claude profile's bridge file: "personal", "work" or the profile id.
function claudeStem(home, configDir) {
    if (configDir === resolvedPath(path.join(home, '.claude-personal'))) return 'personal';
    if (configDir === resolvedPath(path.join(home, '.claude-work'))) return 'work';
    return profileId('claude', configDir);
}

// The default folder keeps its ".claude.json" in the home folder, every other folder inside itself.
function claudeConfigFile(home, configDir) {
    if (configDir === resolvedPath(path.join(home, '.claude'))) return path.join(home, '.claude.json');
    return path.join(configDir, '.claude.json');
}

// Account key from the bytes of ".claude.json", or null when no account is signed in.
function claudeAccountKey(bytes) {
    let doc;
    try {
        doc = JSON.parse(bytes.toString('utf8'));
    } catch {
        return null;
    }
    const account = doc && typeof doc === 'object' ? doc.oauthAccount : null;
    if (!account || typeof account !== 'object') return null;
    const { accountUuid, organizationUuid } = account;
    if (typeof accountUuid !== 'string' || typeof organizationUuid !== 'string') return null;
    if (accountUuid === '' || organizationUuid === '') return null;
    return sha256Hex(`${accountUuid}\0${organizationUuid}`);
}

function isPlainObject(v) {
    return v !== null && typeof v === 'object' && !Array.isArray(v);
}

// One window of the input as the bridge file holds it, or null when the reader would refuse it.
// A percentage above 100 is shown as 100; a negative one is dropped. Without a reset time only
// an unused five-hour window is kept.
function bridgeWindow(key, raw) {
    if (!isPlainObject(raw)) return null;
    let used = raw.used_percentage;
    if (typeof used !== 'number' || !Number.isFinite(used) || used < 0) return null;
    if (used > 100) used = 100;
    if (Object.is(used, -0)) used = 0;
    const resets = raw.resets_at;
    if (typeof resets === 'number' && Number.isFinite(resets)) {
        return { used_percentage: used, resets_at: resets };
    }
    if (key === 'five_hour' && used === 0) return { used_percentage: used };
    return null;
}

// The Claude bridge record for one statusLine input, or null when the input holds no window.
function claudeSnapshot({ stem, accountKey, now, input }) {
    const limits = isPlainObject(input) && isPlainObject(input.rate_limits) ? input.rate_limits : {};
    const rateLimits = {};
    for (const key of ['five_hour', 'seven_day']) {
        const w = bridgeWindow(key, limits[key]);
        if (w) rateLimits[key] = w;
    }
    if (Object.keys(rateLimits).length === 0) return null;
    return { version: FORMAT_VERSION, profileId: stem, accountKey, capturedAt: now, rate_limits: rateLimits };
}

// Modification time of a file in seconds since 1970 from the nanosecond field, or null.
function modificationTime(file) {
    try {
        const st = fs.statSync(file, { bigint: true });
        const ns = st.mtimeNs;
        return Number(ns / 1000000000n) + Number(ns % 1000000000n) / 1e9;
    } catch {
        return null;
    }
}

// Nothing names the signed-in Antigravity account without reading its credentials, so the key
// binds the profile to the credential file's time: a new login gives a new key.
function antigravityAccountKey(id, credentialModifiedAt) {
    return sha256Hex(`${id}\0${credentialModifiedAt === null ? '' : String(credentialModifiedAt)}`);
}

// The Antigravity bridge record. The statusLine input carries no quotas and no plan.
function antigravitySnapshot({ profileId: id, now, credentialModifiedAt }) {
    const snap = {
        version: FORMAT_VERSION,
        profileId: id,
        accountKey: antigravityAccountKey(id, credentialModifiedAt),
        capturedAt: now,
    };
    if (credentialModifiedAt !== null) snap.credentialModifiedAt = credentialModifiedAt;
    snap.quota = {};
    return snap;
}

function serialize(snapshot) {
    return `${JSON.stringify(snapshot)}\n`;
}

// Writes the file next to its final name, then renames it over the final name.
function writeFileAtomic(file, text, mode) {
    const dir = path.dirname(file);
    const tmp = path.join(dir, `.${path.basename(file)}.${process.pid}.${crypto.randomBytes(6).toString('hex')}.tmp`);
    const fd = fs.openSync(tmp, 'wx', mode);
    try {
        try {
            fs.writeFileSync(fd, text);
        } finally {
            fs.closeSync(fd);
        }
        fs.renameSync(tmp, file);
    } catch (err) {
        try { fs.unlinkSync(tmp); } catch { /* already gone */ }
        throw err;
    }
}

// Builds the profile's bridge file for this input; returns { file, text, limit } or null.
function bridgeFileFor(options, input, now) {
    const { provider, bridgeDir, configDir } = options;
    if (provider === 'claude') {
        const home = options.home;
        if (!home) return null;
        const configFile = claudeConfigFile(home, configDir);
        const st = fs.statSync(configFile);
        if (!st.isFile() || st.size > CLAUDE_CONFIG_LIMIT) return null;
        const accountKey = claudeAccountKey(fs.readFileSync(configFile));
        if (!accountKey) return null;
        const stem = claudeStem(home, configDir);
        const snap = claudeSnapshot({ stem, accountKey, now, input });
        if (!snap) return null;
        return { file: path.join(bridgeDir, `${stem}.json`), text: serialize(snap), limit: CLAUDE_BRIDGE_LIMIT };
    }
    if (provider === 'antigravity') {
        const id = profileId('antigravity', configDir);
        const credentialModifiedAt = modificationTime(path.join(configDir, ANTIGRAVITY_CREDENTIAL));
        const snap = antigravitySnapshot({ profileId: id, now, credentialModifiedAt });
        return { file: path.join(bridgeDir, `${id}.json`), text: serialize(snap), limit: ANTIGRAVITY_BRIDGE_LIMIT };
    }
    return null;
}

function writeBridge(options, input, now) {
    if (!options.bridgeDir || !path.isAbsolute(options.bridgeDir)) return false;
    if (!options.configDir || !path.isAbsolute(options.configDir)) return false;
    const out = bridgeFileFor(options, input, now);
    if (!out || Buffer.byteLength(out.text) > out.limit) return false;
    fs.mkdirSync(options.bridgeDir, { recursive: true, mode: 0o700 });
    writeFileAtomic(out.file, out.text, 0o600);
    return true;
}

function cleanText(s, max) {
    // eslint-disable-next-line no-control-regex
    const flat = s.replace(/[\u0000-\u001f\u007f-\u009f]+/g, ' ').trim();
    const chars = Array.from(flat);
    return chars.length > max ? `${chars.slice(0, max - 1).join('')}…` : flat;
}

// The line shown in the tool when no user command is wrapped.
function statusText(provider, input) {
    const parts = [];
    const model = isPlainObject(input) && isPlainObject(input.model) ? input.model.display_name : undefined;
    const name = typeof model === 'string' ? cleanText(model, 60) : '';
    parts.push(name !== '' ? name : titleOf(provider));
    if (provider === 'claude' && isPlainObject(input) && isPlainObject(input.rate_limits)) {
        const labels = { five_hour: '5 ч', seven_day: 'неделя' };
        for (const key of ['five_hour', 'seven_day']) {
            const w = bridgeWindow(key, input.rate_limits[key]);
            if (w) parts.push(`${labels[key]} ${Math.round(w.used_percentage)}%`);
        }
    }
    return parts.join(' · ');
}

function parseArgs(argv) {
    const out = {};
    for (let i = 0; i + 1 < argv.length; i += 2) {
        const name = OPTIONS[argv[i]];
        if (name) out[name] = argv[i + 1];
    }
    return out;
}

function parseInput(bytes) {
    try {
        const v = JSON.parse(bytes.toString('utf8'));
        return isPlainObject(v) ? v : null;
    } catch {
        return null;
    }
}

function readInput() {
    return new Promise((resolve) => {
        const chunks = [];
        let size = 0;
        let done = false;
        let timer = null;
        let stream = null;
        const finish = () => {
            if (done) return;
            done = true;
            if (timer) clearTimeout(timer);
            if (stream) {
                stream.removeAllListeners('data');
                stream.pause();
            }
            resolve(Buffer.concat(chunks, size));
        };
        try {
            if (require('tty').isatty(0)) return finish();
            stream = process.stdin;
            timer = setTimeout(finish, INPUT_TIMEOUT_MS);
            stream.on('data', (chunk) => {
                const room = INPUT_LIMIT - size;
                chunks.push(chunk.length > room ? chunk.subarray(0, room) : chunk);
                size += Math.min(chunk.length, room);
                if (size >= INPUT_LIMIT) finish();
            });
            stream.on('end', finish);
            stream.on('error', finish);
        } catch {
            finish();
        }
    });
}

function writeOut(data) {
    const buf = Buffer.isBuffer(data) ? data : Buffer.from(data, 'utf8');
    let off = 0;
    let spins = 0;
    while (off < buf.length) {
        try {
            off += fs.writeSync(1, buf, off, buf.length - off);
        } catch (err) {
            if (err.code === 'EAGAIN' && spins++ < 1000) {
                Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 2);
                continue;
            }
            return; // the tool went away: nothing more to tell it
        }
    }
}

// Runs the user's own statusLine command with the same input; its output, or null when it
// failed without printing anything.
function runWrapped(command, input) {
    const { spawnSync } = require('child_process');
    const r = spawnSync('/bin/sh', ['-c', command], {
        input,
        stdio: ['pipe', 'pipe', 'inherit'],
        timeout: WRAPPED_TIMEOUT_MS,
        killSignal: 'SIGKILL',
        maxBuffer: INPUT_LIMIT,
    });
    const out = r.stdout && r.stdout.length > 0 ? r.stdout : null;
    if (out) return out;
    // A command that exits without reading its input is not a failure.
    const failed = (r.error && r.error.code !== 'EPIPE') || r.status !== 0;
    return failed ? null : Buffer.alloc(0);
}

let printed = false;

function print(data) {
    printed = true;
    writeOut(data);
}

async function main() {
    const options = parseArgs(process.argv.slice(2));
    let line = titleOf(options.provider);
    const bytes = await readInput();
    const input = parseInput(bytes);
    try { line = statusText(options.provider, input); } catch { /* keep the plain title */ }
    try { writeBridge(options, input, Date.now() / 1000); } catch { /* the tool must go on */ }
    if (typeof options.wrap === 'string' && options.wrap.trim() !== '') {
        let out = null;
        try { out = runWrapped(options.wrap, bytes); } catch { out = null; }
        print(out !== null ? out : `${line}\n`);
    } else {
        print(`${line}\n`);
    }
}

module.exports = {
    CLAUDE_MARKER,
    OPTIONS,
    profileId,
    claudeAccountKey,
    claudeSnapshot,
    antigravityAccountKey,
    antigravitySnapshot,
    serialize,
};

if (require.main === module) {
    const bail = () => {
        if (!printed) {
            let title = 'Vantorel';
            try { title = titleOf(parseArgs(process.argv.slice(2)).provider); } catch { /* plain title */ }
            print(`${title}\n`);
        }
        process.exit(0);
    };
    process.on('uncaughtException', bail);
    main().then(() => process.exit(0), bail);
}
