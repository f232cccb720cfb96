#!/usr/bin/env node
// Publishes a sample video with every installed template the way the page
// generator does (clean, copy, fill the placeholders, make the advertisement
// picture), then checks each page as a viewer would meet it:
//   - the W3C Nu checker finds no errors,
//   - headless Chromium picks a source the browser shows as a picture (never
//     the Ogg file while WebM or MP4 is there, even when they are damaged) and
//     gets it to readyState >= 2,
//   - autoplay that the browser refuses ends muted and playing with the
//     "sound is off" button shown; autoplay it allows plays with sound,
//   - screenshots at a desktop, a phone and the publish dialog's preview size,
//     for a person to look at,
//   - real presses (trusted mouse and keyboard input, which counts as the
//     viewer's activation): the sound button brings the sound back while the
//     video plays on, "Play the video" closes the advertisement and plays with
//     sound, Escape closes it, and without the browser's controls the big
//     button plays and pauses from the keyboard.
//
// Usage: node check-pages.mjs <Templates folder> <work folder> [vnu.jar]
// Needs ffmpeg, rsvg-convert, chromium and, for the validator, java with
// vnu.jar (npm install vnu-jar; node_modules/vnu-jar/build/dist/vnu.jar).
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

// The presses are driven through the browser's debugging protocol, which needs
// Node's WebSocket (behind a flag in Node 20).
if (typeof WebSocket === 'undefined') {
    const r = spawnSync(process.execPath, ['--experimental-websocket', ...process.argv.slice(1)],
        { stdio: 'inherit' });
    process.exit(r.status ?? 1);
}

const [templatesDir, workDir, vnuJar] = process.argv.slice(2);
if (!templatesDir || !workDir) {
    console.error('usage: check-pages.mjs <Templates folder> <work folder> [vnu.jar]');
    process.exit(2);
}
fs.mkdirSync(workDir, { recursive: true });

// --- the installed catalogue, read as the engine reads it -------------------
function readUtf16(file) {
    const bytes = fs.readFileSync(file);
    return bytes.subarray(2, bytes.length & ~1).toString('utf16le');
}
function readList(name) {
    const file = path.join(templatesDir, name);
    if (!fs.existsSync(file)) return [];
    return readUtf16(file).split('\n').map((l) => l.split('\r')[0]).filter((l) => l !== '');
}
const catalogue = [...readList('Templates.lst'), ...readList('TemplatesEx.lst')].map((name) => ({
    name,
    hasAd: fs.existsSync(path.join(templatesDir, name, 'ad')),
}));

// --- sample media ------------------------------------------------------------
function ffmpeg(...args) {
    execFileSync('ffmpeg', ['-v', 'error', '-y', ...args], { stdio: 'inherit' });
}
// One set of files per picture size: a landscape and a portrait (phone) video.
function makeMedia(w, h) {
    const dir = path.join(workDir, `media-${w}x${h}`);
    if (fs.existsSync(path.join(dir, 'poster.png'))) return dir;
    fs.mkdirSync(dir, { recursive: true });
    const src = ['-f', 'lavfi', '-i', `testsrc2=size=${w}x${h}:rate=30`, '-f', 'lavfi', '-i',
        'sine=frequency=440:sample_rate=48000', '-t', '5'];
    ffmpeg(...src, '-c:v', 'libvpx', '-b:v', '800k', '-c:a', 'libvorbis',
        '-avoid_negative_ts', 'make_zero', path.join(dir, 'video.webm'));
    ffmpeg(...src, '-c:v', 'libx264', '-preset', 'veryfast', '-pix_fmt', 'yuv420p', '-c:a', 'aac',
        '-movflags', '+faststart', path.join(dir, 'video.mp4'));
    ffmpeg(...src, '-c:v', 'libtheora', '-q:v', '6', '-c:a', 'flac', '-sample_fmt', 's16',
        '-avoid_negative_ts', 'make_zero', path.join(dir, 'video.ogv'));
    ffmpeg('-ss', '1.5', '-i', path.join(dir, 'video.mp4'), '-frames:v', '1',
        path.join(dir, 'poster.png'));
    return dir;
}

// An advertisement picture of our own: a banner drawn from SVG.
const adPicture = path.join(workDir, 'ad.png');
if (!fs.existsSync(adPicture)) {
    const adSvg = path.join(workDir, 'ad.svg');
    fs.writeFileSync(adSvg, `<svg xmlns="http://www.w3.org/2000/svg" width="1200" height="500">
<defs><linearGradient id="g" x1="0" y1="0" x2="1" y2="1"><stop offset="0" stop-color="#0ea5e9"/>
<stop offset="1" stop-color="#6366f1"/></linearGradient></defs>
<rect width="1200" height="500" rx="24" fill="url(#g)"/>
<circle cx="1040" cy="110" r="160" fill="#fff" fill-opacity="0.12"/>
<text x="90" y="230" font-family="sans-serif" font-size="96" font-weight="700" fill="#fff">Summer Sale</text>
<text x="94" y="320" font-family="sans-serif" font-size="48" fill="#e0f2fe">Everything 30% off this week</text>
<rect x="94" y="370" width="300" height="76" rx="38" fill="#fff"/>
<text x="244" y="421" font-family="sans-serif" font-size="36" font-weight="700" fill="#4f46e5" text-anchor="middle">Shop now</text>
</svg>`);
    execFileSync('rsvg-convert', ['-o', adPicture, adSvg]);
}

// --- the page generator, as the engine does it --------------------------------
const escapeHtml = (s) => s.replace(/[&<>"']/g, (c) =>
    ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);

function expand(text, table) {
    let out = '';
    for (let i = 0; i < text.length; i++) {
        if (text[i] === '{') {
            const hit = table.find(([name]) =>
                text.substr(i, name.length).toLowerCase() === name.toLowerCase());
            if (hit) {
                out += typeof hit[1] === 'function' ? hit[1]() : hit[1];
                i += hit[0].length - 1;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

function publish(entry, project, folder) {
    const [W, H] = project.size;
    const media = makeMedia(W, H);
    fs.rmSync(folder, { recursive: true, force: true });
    fs.mkdirSync(folder, { recursive: true });
    const formats = ['video.webm', 'video.mp4', 'video.ogv'];
    formats.forEach((f, i) => {
        if (project.formats[i]) fs.copyFileSync(path.join(media, f), path.join(folder, f));
    });
    // Damaged WebM and MP4 files: the browser moves on down the source list.
    if (project.damaged) {
        for (const f of formats.slice(0, 2)) fs.writeFileSync(path.join(folder, f), 'not a video');
    }
    const tdir = path.join(templatesDir, entry.name);
    for (const f of fs.readdirSync(tdir, { withFileTypes: true })) {
        if (f.isFile()) fs.copyFileSync(path.join(tdir, f.name), path.join(folder, f.name));
    }
    fs.copyFileSync(path.join(media, 'poster.png'), path.join(folder, 'poster.png'));
    const withAd = project.adFile !== '' && entry.hasAd;
    if (withAd) {
        fs.mkdirSync(path.join(folder, 'ad'), { recursive: true });
        for (const f of fs.readdirSync(path.join(tdir, 'ad'), { withFileTypes: true })) {
            if (f.isFile() && f.name.toLowerCase() !== 'ad.html') {
                fs.copyFileSync(path.join(tdir, 'ad', f.name), path.join(folder, 'ad', f.name));
            }
        }
        ffmpeg('-i', project.adFile, '-vf', `scale=${project.adW}:${project.adH}:flags=bicubic`,
            path.join(folder, 'ad', 'logo.png'));
    }
    const autoplay = project.autoplay && project.adFile === '';
    const id = `zelmorix_video_to_html5_${Date.now() % 2 ** 32}`;
    const setup = `{"width":${W}, "height":${H}, "preload":"auto", "poster":"poster.png", ` +
        `"preload":"auto"${project.controls ? ', "controls": true' : ''}` +
        `${autoplay ? ', "autoplay": true ' : ''}${project.loop ? ', "loop": true' : ''}}`;
    const sources = [
        '<source src="video.webm" type=\'video/webm\' />',
        '<source src="video.mp4" type=\'video/mp4\' />',
        '<source src="video.ogv" type=\'video/ogg\' />',
    ].filter((_, i) => project.formats[i]).join('');
    const adTable = [['{$width}', String(project.adW)], ['{$height}', String(project.adH)],
        ['{$link}', escapeHtml(project.link)]];
    const table = [
        ['{$title}', escapeHtml(project.title)],
        ['{$width}', String(W)],
        ['{$height}', String(H)],
        ['{$controls}', project.controls ? 'controls="controls"' : ''],
        ['{$autoplay}', autoplay ? 'autoplay="autoplay"' : ''],
        ['{$loop}', project.loop ? 'loop="loop"' : ''],
        ['{$loop_code}', project.loop
            ? 'loop="loop" onended="var v=this;setTimeout(function(){v.play()},300)"' : ''],
        ['{$advertisement}', () => withAd
            ? expand(readUtf16(path.join(tdir, 'ad', 'ad.html')), adTable) : ''],
        ['{$id}', id],
        ['{$data-setup}', setup],
        ['{$source}', sources],
    ];
    const page = expand(readUtf16(path.join(folder, 'index.html')), table);
    if (page.length >= 65536 || Buffer.byteLength(page) > 65536) {
        throw new Error(`${entry.name}: the page does not fit the generator's buffer`);
    }
    fs.writeFileSync(path.join(folder, 'index.html'), page);
    return path.join(folder, 'index.html');
}

// --- scenarios ---------------------------------------------------------------
const base = {
    size: [640, 360], title: 'Harbour at dawn & the "first" ferry', formats: [true, true, true],
    controls: true, autoplay: false, loop: false, adFile: '', adW: 0, adH: 0,
    link: 'https://example.com/offer?a=1&b=2',
};
const scenarios = [];
for (const entry of catalogue) {
    scenarios.push({ entry, tag: 'plain', project: { ...base } });
    scenarios.push({ entry, tag: 'autoplay', project: { ...base, autoplay: true } });
    scenarios.push({ entry, tag: 'nocontrols', project: { ...base, controls: false } });
    scenarios.push({ entry, tag: 'ogvonly', project: { ...base, formats: [false, false, true] } });
    scenarios.push({ entry, tag: 'damaged', project: { ...base, damaged: true } });
    if (entry.hasAd) {
        // 1200 x 500 fitted into 640 x 360 as the program does: 640 x 266.
        scenarios.push({ entry, tag: 'ad', project: { ...base, autoplay: true,
            adFile: adPicture, adW: 640, adH: 266 } });
        // 1200 x 500 fitted into 360 x 640: 360 x 150.
        scenarios.push({ entry, tag: 'portrait-ad', project: { ...base, size: [360, 640],
            formats: [true, true, false], adFile: adPicture, adW: 360, adH: 150 } });
    } else {
        scenarios.push({ entry, tag: 'portrait', project: { ...base, size: [360, 640],
            formats: [true, true, false] } });
    }
}
const pages = scenarios.map((s) => {
    s.page = publish(s.entry, s.project, path.join(workDir, 'out', `${s.entry.name}-${s.tag}`));
    return s.page;
});

let failures = 0;
function fail(msg) {
    failures++;
    console.log(`FAIL ${msg}`);
}

// --- validator ---------------------------------------------------------------
if (vnuJar) {
    const r = spawnSync('java', ['-jar', vnuJar, '--errors-only', ...pages], { encoding: 'utf8' });
    if (r.status !== 0) fail(`validator:\n${r.stderr}${r.stdout}`);
    else console.log(`validator: ${pages.length} pages, no errors`);
}

// --- browser -----------------------------------------------------------------
function chromium(extra, url) {
    const profile = fs.mkdtempSync(path.join(workDir, 'profile-'));
    const r = spawnSync('chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
        '--no-first-run', '--disable-background-networking', '--disable-component-update',
        '--disable-sync', `--user-data-dir=${profile}`, ...extra, url],
    { encoding: 'utf8', maxBuffer: 64 << 20, timeout: 60000 });
    fs.rmSync(profile, { recursive: true, force: true });
    return r.stdout || '';
}

// The player's state as the checks see it.
const STATE_JS = `(function () {
  var v = document.querySelector('video'), u = document.querySelector('.rp-unmute');
  var n = document.querySelector('.rp-notice'), t = document.querySelector('.rp-toggle');
  var a = document.querySelector('[data-rp-ad]');
  return {
    src: v.currentSrc.split('/').pop(), readyState: v.readyState, paused: v.paused,
    muted: v.muted, videoWidth: v.videoWidth, time: v.currentTime,
    sources: v.querySelectorAll('source').length,
    unmuteShown: !!u && !u.hidden, notice: n && !n.hidden ? n.textContent : '',
    toggleShown: !!t && !t.hidden, toggleLabel: t ? t.getAttribute('aria-label') : '',
    adShown: !!a && !a.hidden,
    focus: document.activeElement.className || document.activeElement.tagName };
})()`;

// A copy of the page with a probe that writes that state into the DOM.
function probe() {
    return `<script>
setTimeout(function () {
  document.body.setAttribute('data-probe', JSON.stringify(${STATE_JS}));
}, 2500);
</script>`;
}

function check(s, policy) {
    const probed = s.page.replace(/index\.html$/, 'probe.html');
    fs.writeFileSync(probed, fs.readFileSync(s.page, 'utf8').replace('</body>', probe() + '</body>'));
    const dom = chromium([`--autoplay-policy=${policy}`, '--virtual-time-budget=6000',
        '--dump-dom'], `file://${probed}`);
    fs.rmSync(probed);
    const m = dom.match(/data-probe="([^"]*)"/);
    const name = `${s.entry.name}-${s.tag} (${policy})`;
    if (!m) {
        fail(`${name}: no probe result`);
        return null;
    }
    const st = JSON.parse(m[1].replace(/&quot;/g, '"').replace(/&amp;/g, '&'));
    console.log(`${name}: ${JSON.stringify(st)}`);
    return { name, st };
}

const REFUSE = 'document-user-activation-required';
const ALLOW = 'no-user-gesture-required';
for (const s of scenarios) {
    const withAd = s.tag.endsWith('ad');
    const onlyOgv = !s.project.formats[0] && !s.project.formats[1];
    const policies = s.project.autoplay && !withAd ? [REFUSE, ALLOW] : [REFUSE];
    for (const policy of policies) {
        const r = check(s, policy);
        if (!r) continue;
        const { name, st } = r;
        if (!onlyOgv && st.src === 'video.ogv') fail(`${name}: plays the Ogg file`);
        if (s.project.damaged) {
            // Where the browser lacks Theora, falling through to the Ogg file
            // would give sound without picture; the page says it cannot play.
            if (!st.notice || st.toggleShown) fail(`${name}: damaged sources not reported`);
            continue;
        }
        if (!onlyOgv && st.readyState < 2) fail(`${name}: readyState ${st.readyState}`);
        if (!onlyOgv && st.videoWidth === 0) fail(`${name}: no picture`);
        if (onlyOgv && st.videoWidth === 0 && !st.notice) fail(`${name}: sound only, unexplained`);
        if (withAd && (!st.adShown || !st.paused || st.toggleShown)) fail(`${name}: advertisement not first`);
        if (s.project.autoplay && !withAd) {
            if (st.paused) fail(`${name}: autoplay did not start`);
            const refused = policy === REFUSE;
            if (refused && !(st.muted && st.unmuteShown)) fail(`${name}: refused autoplay not muted+shown`);
            if (!refused && (st.muted || st.unmuteShown)) fail(`${name}: allowed autoplay muted`);
        }
        if (!s.project.autoplay && !withAd && !st.toggleShown) fail(`${name}: no play button`);
    }
    if (s.tag === 'ogvonly' || s.tag === 'damaged') continue;
    const sizes = [['wide', '1280,800'], ['phone', '390,844'], ['dialog', '588,542']];
    for (const [label, size] of sizes) {
        const shot = path.join(workDir, 'shots', `${s.entry.name}-${s.tag}-${label}.png`);
        fs.mkdirSync(path.dirname(shot), { recursive: true });
        chromium(['--autoplay-policy=document-user-activation-required', '--hide-scrollbars',
            '--virtual-time-budget=4000', `--window-size=${size}`, `--screenshot=${shot}`],
        `file://${s.page}`);
        if (!fs.existsSync(shot)) fail(`${s.entry.name}-${s.tag}: no ${label} screenshot`);
    }
}
// --- real presses through the debugging protocol ------------------------------
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function withPage(url, policy, fn) {
    const profile = fs.mkdtempSync(path.join(workDir, 'profile-'));
    const proc = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
        '--no-first-run', '--disable-background-networking', '--disable-component-update',
        '--disable-sync', `--user-data-dir=${profile}`, `--autoplay-policy=${policy}`,
        '--remote-debugging-port=0', '--window-size=1280,800', 'about:blank'],
    { stdio: 'ignore', detached: true });
    const exited = new Promise((r) => proc.on('exit', r));
    let ws;
    try {
        let port;
        for (let i = 0; i < 100 && !port; i++) {
            await sleep(100);
            try {
                port = fs.readFileSync(path.join(profile, 'DevToolsActivePort'), 'utf8').split('\n')[0];
            } catch { /* not yet */ }
        }
        if (!port) throw new Error('the browser did not open its debugging port');
        const targets = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
        ws = new WebSocket(targets.find((t) => t.type === 'page').webSocketDebuggerUrl);
        await new Promise((res, rej) => { ws.onopen = res; ws.onerror = rej; });
        let next = 0;
        const waiting = new Map();
        ws.onmessage = (e) => {
            const m = JSON.parse(e.data);
            if (m.id && waiting.has(m.id)) {
                waiting.get(m.id)(m);
                waiting.delete(m.id);
            }
        };
        const send = (method, params = {}) => new Promise((res) => {
            const id = ++next;
            waiting.set(id, res);
            ws.send(JSON.stringify({ id, method, params }));
        });
        const evaluate = async (expr) => (await send('Runtime.evaluate',
            { expression: expr, returnByValue: true })).result.result.value;
        const page = {
            state: () => evaluate(STATE_JS),
            async click(selector) {
                const box = await evaluate(`(function () {
                    var r = document.querySelector(${JSON.stringify(selector)}).getBoundingClientRect();
                    return { x: r.left + r.width / 2, y: r.top + r.height / 2 }; })()`);
                for (const type of ['mousePressed', 'mouseReleased']) {
                    await send('Input.dispatchMouseEvent',
                        { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
                }
            },
            async key(key, code, keyCode, text) {
                await send('Input.dispatchKeyEvent', { type: 'keyDown', key, code,
                    windowsVirtualKeyCode: keyCode, text });
                await send('Input.dispatchKeyEvent', { type: 'keyUp', key, code,
                    windowsVirtualKeyCode: keyCode });
            },
        };
        await send('Page.enable');
        await send('Page.navigate', { url });
        await sleep(1500);
        await fn(page);
    } catch (e) {
        fail(`${url}: ${e.message}`);
    } finally {
        if (ws) ws.close();
        // The chromium command is a wrapper script: end its whole process group.
        try {
            process.kill(-proc.pid, 'SIGTERM');
        } catch { /* already gone */ }
        await exited;
        await sleep(300);
        fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
    }
}

async function presses() {
    const TAB = ['Tab', 'Tab', 9, undefined];
    const SPACE = [' ', 'Space', 32, ' '];
    for (const s of scenarios) {
        const url = `file://${s.page}`;
        const name = `${s.entry.name}-${s.tag}`;
        if (s.tag === 'autoplay') {
            await withPage(url, REFUSE, async (page) => {
                const before = await page.state();
                await page.click('.rp-unmute');
                await sleep(1200);
                const after = await page.state();
                console.log(`${name} sound button: ${JSON.stringify(after)}`);
                if (!before.muted || !before.unmuteShown) fail(`${name}: not muted before the press`);
                if (after.muted || after.unmuteShown || after.paused || !(after.time > before.time)) {
                    fail(`${name}: the sound button did not bring the sound back to a playing video`);
                }
            });
        }
        if (s.tag === 'ad') {
            await withPage(url, REFUSE, async (page) => {
                await page.click('[data-rp-ad-play]');
                await sleep(1200);
                const st = await page.state();
                console.log(`${name} play button of the advertisement: ${JSON.stringify(st)}`);
                if (st.adShown || st.paused || st.muted || !(st.time > 0)) {
                    fail(`${name}: "Play the video" did not close the advertisement and play`);
                }
            });
            await withPage(url, REFUSE, async (page) => {
                await page.key(...TAB);
                await page.key('Escape', 'Escape', 27);
                await sleep(300);
                const st = await page.state();
                console.log(`${name} Escape: ${JSON.stringify(st)}`);
                if (st.adShown || !st.paused) fail(`${name}: Escape did not close the advertisement`);
            });
        }
        if (s.tag === 'nocontrols') {
            await withPage(url, REFUSE, async (page) => {
                await page.key(...TAB);
                const focused = (await page.state()).focus;
                await page.key(...SPACE);
                await sleep(1200);
                const playing = await page.state();
                await page.key(...SPACE);
                await sleep(300);
                const paused = await page.state();
                console.log(`${name} keyboard: focus ${focused}, ${JSON.stringify(playing)} then ` +
                    `${JSON.stringify(paused)}`);
                if (focused !== 'rp-toggle') fail(`${name}: Tab does not reach the play button first`);
                if (playing.paused || playing.muted || playing.toggleLabel !== 'Pause video') {
                    fail(`${name}: Space on the play button did not play with sound`);
                }
                if (!paused.paused || paused.toggleLabel !== 'Play video') {
                    fail(`${name}: Space again did not pause`);
                }
            });
        }
    }
}
await presses();

console.log(failures ? `${failures} problem(s)` : 'all pages passed');
process.exit(failures ? 1 : 0);
