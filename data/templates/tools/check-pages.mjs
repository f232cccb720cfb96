#!/usr/bin/env node
// Publishes a sample video with every installed template the way the page
// generator does (clean, copy, fill the placeholders, make the advertisement
// picture), then checks each page as a viewer would meet it:
//   - the W3C Nu checker finds no errors,
//   - headless Chromium picks a source the browser shows as a picture (never
//     the Ogg file while WebM or MP4 is there) and gets it to readyState >= 2,
//   - autoplay that the browser refuses ends muted and playing with the
//     "sound is off" button shown; autoplay it allows plays with sound,
//   - screenshots at a desktop and a phone size, for a person to look at.
//
// Usage: node check-pages.mjs <Templates folder> <work folder> [vnu.jar]
// Needs ffmpeg, rsvg-convert, chromium and, for the validator, java with
// vnu.jar (npm install vnu-jar; node_modules/vnu-jar/build/dist/vnu.jar).
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

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
const media = path.join(workDir, 'media');
fs.mkdirSync(media, { recursive: true });
function ffmpeg(...args) {
    execFileSync('ffmpeg', ['-v', 'error', '-y', ...args], { stdio: 'inherit' });
}
const W = 640, H = 360;
const src = ['-f', 'lavfi', '-i', `testsrc2=size=${W}x${H}:rate=30`, '-f', 'lavfi', '-i',
    'sine=frequency=440:sample_rate=48000', '-t', '5'];
if (!fs.existsSync(path.join(media, 'video.ogv'))) {
    ffmpeg(...src, '-c:v', 'libvpx', '-b:v', '800k', '-c:a', 'libvorbis',
        '-avoid_negative_ts', 'make_zero', path.join(media, 'video.webm'));
    ffmpeg(...src, '-c:v', 'libx264', '-preset', 'veryfast', '-pix_fmt', 'yuv420p', '-c:a', 'aac',
        '-movflags', '+faststart', path.join(media, 'video.mp4'));
    ffmpeg(...src, '-c:v', 'libtheora', '-q:v', '6', '-c:a', 'flac', '-sample_fmt', 's16',
        '-avoid_negative_ts', 'make_zero', path.join(media, 'video.ogv'));
    ffmpeg('-ss', '1.5', '-i', path.join(media, 'video.mp4'), '-frames:v', '1',
        path.join(media, 'poster.png'));
    // An advertisement picture of our own: a banner drawn from SVG.
    const adSvg = path.join(media, 'ad.svg');
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
    execFileSync('rsvg-convert', ['-o', path.join(media, 'ad.png'), adSvg]);
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
    fs.rmSync(folder, { recursive: true, force: true });
    fs.mkdirSync(folder, { recursive: true });
    const formats = ['video.webm', 'video.mp4', 'video.ogv'];
    formats.forEach((f, i) => {
        if (project.formats[i]) fs.copyFileSync(path.join(media, f), path.join(folder, f));
    });
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
    title: 'Harbour at dawn & the "first" ferry', formats: [true, true, true],
    controls: true, autoplay: false, loop: false, adFile: '', adW: 0, adH: 0,
    link: 'https://example.com/offer?a=1&b=2',
};
const scenarios = [];
for (const entry of catalogue) {
    scenarios.push({ entry, tag: 'plain', project: { ...base } });
    scenarios.push({ entry, tag: 'autoplay', project: { ...base, autoplay: true } });
    scenarios.push({ entry, tag: 'nocontrols', project: { ...base, controls: false } });
    scenarios.push({ entry, tag: 'ogvonly', project: { ...base, formats: [false, false, true] } });
    if (entry.hasAd) {
        // 1200 x 500 fitted into 640 x 360 as the program does: 640 x 266.
        scenarios.push({ entry, tag: 'ad', project: { ...base, autoplay: true,
            adFile: path.join(media, 'ad.png'), adW: 640, adH: 266 } });
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

// A copy of the page with a probe that writes the player's state into the DOM.
const probe = `<script>
setTimeout(function () {
  var v = document.querySelector('video'), u = document.querySelector('.rp-unmute');
  var n = document.querySelector('.rp-notice'), t = document.querySelector('.rp-toggle');
  var a = document.querySelector('[data-rp-ad]');
  document.body.setAttribute('data-probe', JSON.stringify({
    src: v.currentSrc.split('/').pop(), readyState: v.readyState, paused: v.paused,
    muted: v.muted, videoWidth: v.videoWidth, time: v.currentTime,
    sources: v.querySelectorAll('source').length,
    unmuteShown: !!u && !u.hidden, notice: n && !n.hidden ? n.textContent : '',
    toggleShown: !!t && !t.hidden, adShown: !!a && !a.hidden }));
}, 2500);
</script>`;

for (const s of scenarios) {
    const probed = s.page.replace(/index\.html$/, 'probe.html');
    fs.writeFileSync(probed, fs.readFileSync(s.page, 'utf8').replace('</body>', probe + '</body>'));
    const policies = s.project.autoplay && s.tag !== 'ad'
        ? ['document-user-activation-required', 'no-user-gesture-required']
        : ['document-user-activation-required'];
    for (const policy of policies) {
        const dom = chromium([`--autoplay-policy=${policy}`, '--virtual-time-budget=6000',
            '--dump-dom'], `file://${probed}`);
        const m = dom.match(/data-probe="([^"]*)"/);
        const name = `${s.entry.name}-${s.tag} (${policy})`;
        if (!m) {
            fail(`${name}: no probe result`);
            continue;
        }
        const st = JSON.parse(m[1].replace(/&quot;/g, '"').replace(/&amp;/g, '&'));
        console.log(`${name}: ${JSON.stringify(st)}`);
        const onlyOgv = !s.project.formats[0] && !s.project.formats[1];
        if (!onlyOgv && st.src === 'video.ogv') fail(`${name}: plays the Ogg file`);
        if (!onlyOgv && st.readyState < 2) fail(`${name}: readyState ${st.readyState}`);
        if (!onlyOgv && st.videoWidth === 0) fail(`${name}: no picture`);
        if (onlyOgv && st.videoWidth === 0 && !st.notice) fail(`${name}: sound only, unexplained`);
        if (s.tag === 'ad' && (!st.adShown || !st.paused)) fail(`${name}: advertisement not first`);
        if (s.project.autoplay && s.tag !== 'ad') {
            if (st.paused) fail(`${name}: autoplay did not start`);
            const refused = policy === 'document-user-activation-required';
            if (refused && !(st.muted && st.unmuteShown)) fail(`${name}: refused autoplay not muted+shown`);
            if (!refused && (st.muted || st.unmuteShown)) fail(`${name}: allowed autoplay muted`);
        }
        if (!s.project.autoplay && s.tag !== 'ad' && !st.toggleShown) fail(`${name}: no play button`);
    }
    fs.rmSync(probed);
    if (s.tag === 'ogvonly') continue;
    for (const [label, size] of [['wide', '1280,800'], ['phone', '390,844']]) {
        const shot = path.join(workDir, 'shots', `${s.entry.name}-${s.tag}-${label}.png`);
        fs.mkdirSync(path.dirname(shot), { recursive: true });
        chromium(['--autoplay-policy=document-user-activation-required', '--hide-scrollbars',
            '--virtual-time-budget=4000', `--window-size=${size}`, `--screenshot=${shot}`],
        `file://${s.page}`);
        if (!fs.existsSync(shot)) fail(`${s.entry.name}-${s.tag}: no ${label} screenshot`);
    }
}
console.log(failures ? `${failures} problem(s)` : 'all pages passed');
process.exit(failures ? 1 : 0);
