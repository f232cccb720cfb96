#!/usr/bin/env node
// Checks published pages, as the page generator made them, the way a viewer
// meets them in headless Chromium:
//   - the browser picks a source it shows as a picture (never the Ogg file
//     while WebM or MP4 is there, even when they are damaged), reaches
//     readyState >= 2 and reports the video's real length,
//   - autoplay that the browser refuses ends muted and playing with the
//     "sound is off" button shown; autoplay it allows plays with sound; a
//     video without sound starts muted either way, with no such button,
//   - an advertisement comes first, over a paused video,
//   - the title and the video's autoplay, controls and playsinline are what
//     the page was published with,
//   - real presses (trusted mouse and keyboard input, which counts as the
//     viewer's activation): the sound button brings the sound back while the
//     video plays on, "Play the video" closes the advertisement and plays with
//     sound, Escape closes it without playing (tried where pages may play),
//     and without the browser's controls the big button plays and pauses
//     from the keyboard,
//   - a page with captions has every cue of every track in the browser, both
//     opened from the disk and served over HTTP (a small server of this script
//     serves the page's folder), and a cue's markup shows as text,
//   - with --shots, screenshots at a desktop, a phone and the publish dialog's
//     preview size, for a person to look at.
//
// Usage: node check-pages.mjs <manifest.json> [--shots <folder>]
//
// The manifest lists the generated pages and what each should do:
//   { "pages": [ { "name": "Clean-autoplay", "page": "/abs/folder/index.html",
//       "title": "...", "formats": ["webm", "mp4", "ogv"], "damaged": false,
//       "ad": false, "autoplay": true, "silent": false, "controls": true, "duration": 3,
//       "presses": ["unmute" | "ad-play" | "ad-escape" | "keyboard"],
//       "captions": [ { "src": "captions.en.vtt", "lang": "en", "label": "English",
//         "cues": [ [start, end, "the text as shown"] ] } ] } ] }
// ("captions" is optional.)
// tests/engine/published_pages_test.cpp writes one for every shipped template.
//
// Prints "ok <name> (<policy>): <state>" or "FAIL <name> ...: <why>" for
// each check and exits 1 when any failed. Chromium is taken from $CHROMIUM or
// PATH and driven through its debugging pipe, so no port is opened.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

const args = process.argv.slice(2);
let manifestFile = '';
let shotsDir = '';
for (let i = 0; i < args.length; i++) {
    if (args[i] === '--shots') shotsDir = args[++i] ?? '';
    else if (!manifestFile) manifestFile = args[i];
    else manifestFile = '';
}
if (!manifestFile) {
    console.error('usage: check-pages.mjs <manifest.json> [--shots <folder>]');
    process.exit(2);
}
const pages = JSON.parse(fs.readFileSync(manifestFile, 'utf8')).pages;

const REFUSE = 'document-user-activation-required';
const ALLOW = 'no-user-gesture-required';
const POLICY_NAME = { [REFUSE]: 'refused', [ALLOW]: 'allowed' };
// How long a page may take to get where it should: to settle, to answer a
// press, to fill its tracks. Each wait ends as soon as the page is there, so
// this only decides how long a page that never gets there takes to fail. On
// an idle machine a page settles in a second or two; with the test suite
// running beside it on two cores, 12 s has been seen.
const PATIENCE_MS = 45000;
// How far the length may be off.
const DURATION_SLACK = 0.15;
// Pages checked at once in each browser; video decoding keeps the cores busy.
const PARALLEL = 3;

let failures = 0;
let checks = 0;
function fail(name, why) {
    failures++;
    console.log(`FAIL ${name}: ${why}`);
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// --- the browser, over its debugging pipe --------------------------------------
class Browser {
    constructor(policy) {
        this.policy = policy;
        this.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'rp-chromium-'));
        // Flags that keep headless Chromium quiet on a machine without a
        // network and runnable as root (CI).
        this.proc = spawn(process.env.CHROMIUM || 'chromium', ['--headless', '--no-sandbox',
            '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync',
            // Pages side by side are all on show: none is held back as hidden.
            '--disable-backgrounding-occluded-windows', '--disable-renderer-backgrounding',
            '--disable-background-timer-throttling',
            `--user-data-dir=${this.profile}`, `--autoplay-policy=${policy}`,
            '--remote-debugging-pipe', 'about:blank'],
        // fd 3 carries commands to the browser, fd 4 its answers.
        { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'], detached: true });
        this.log = '';
        this.proc.stderr.on('data', (d) => { this.log = (this.log + d).slice(-4000); });
        this.exited = new Promise((r) => this.proc.on('exit', r));
        this.proc.on('error', (e) => { this.log += `\n${e.message}`; });
        this.next = 0;
        this.waiting = new Map();
        let buffered = '';
        this.proc.stdio[4].on('data', (chunk) => {
            buffered += chunk;
            let end;
            while ((end = buffered.indexOf('\0')) >= 0) {
                const m = JSON.parse(buffered.slice(0, end));
                buffered = buffered.slice(end + 1);
                const w = m.id && this.waiting.get(m.id);
                if (!w) continue;
                this.waiting.delete(m.id);
                if (m.error) w.reject(new Error(`${w.method}: ${m.error.message}`));
                else w.resolve(m.result);
            }
        });
        this.exited.then(() => {
            for (const w of this.waiting.values()) {
                w.reject(new Error(`the browser ended: ${this.log.trim().split('\n').slice(-3).join(' | ')}`));
            }
            this.waiting.clear();
        });
    }

    send(method, params = {}, sessionId = undefined) {
        return new Promise((resolve, reject) => {
            const id = ++this.next;
            const timer = setTimeout(() => {
                this.waiting.delete(id);
                reject(new Error(`${method}: no answer`));
            }, 15000);
            this.waiting.set(id, {
                method,
                resolve: (v) => { clearTimeout(timer); resolve(v); },
                reject: (e) => { clearTimeout(timer); reject(e); },
            });
            this.proc.stdio[3].write(`${JSON.stringify({ id, method, params, sessionId })}\0`);
        });
    }

    // A tab of its own profile: no activation, cache or storage carried over
    // from another page.
    async open(url, width = 1280, height = 800) {
        const { browserContextId } = await this.send('Target.createBrowserContext');
        const { targetId } = await this.send('Target.createTarget',
            { url: 'about:blank', browserContextId, width, height });
        const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
        const send = (method, params) => this.send(method, params, sessionId);
        // Pages opened side by side each behave as the focused one.
        await send('Emulation.setFocusEmulationEnabled', { enabled: true });
        await send('Page.enable');
        await send('Page.navigate', { url });
        const evaluate = async (expression) => {
            const r = await send('Runtime.evaluate', { expression, returnByValue: true });
            if (r.exceptionDetails) throw new Error(r.exceptionDetails.exception?.description ?? 'script error');
            return r.result.value;
        };
        return {
            send,
            evaluate,
            state: () => evaluate(STATE_JS),
            async click(selector) {
                const box = await evaluate(`(function () {
                    var e = document.querySelector(${JSON.stringify(selector)});
                    if (!e) return null;
                    var r = e.getBoundingClientRect();
                    return { x: r.left + r.width / 2, y: r.top + r.height / 2 }; })()`);
                if (!box) throw new Error(`nothing to press: ${selector}`);
                for (const type of ['mousePressed', 'mouseReleased']) {
                    await send('Input.dispatchMouseEvent',
                        { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
                }
            },
            async key(key, code, keyCode, text) {
                await send('Input.dispatchKeyEvent',
                    { type: 'keyDown', key, code, windowsVirtualKeyCode: keyCode, text });
                await send('Input.dispatchKeyEvent',
                    { type: 'keyUp', key, code, windowsVirtualKeyCode: keyCode });
            },
            close: () => this.send('Target.disposeBrowserContext', { browserContextId }),
        };
    }

    async close() {
        // The chromium command is a wrapper script: end its whole process group.
        try {
            process.kill(-this.proc.pid, 'SIGTERM');
        } catch { /* already gone */ }
        await Promise.race([this.exited, sleep(5000)]);
        try {
            process.kill(-this.proc.pid, 'SIGKILL');
        } catch { /* gone */ }
        fs.rmSync(this.profile, { recursive: true, force: true, maxRetries: 5, retryDelay: 200 });
    }
}

// The player's state as the checks see it.
const STATE_JS = `(function () {
  var v = document.querySelector('video'), u = document.querySelector('.rp-unmute');
  var n = document.querySelector('.rp-notice'), t = document.querySelector('.rp-toggle');
  var a = document.querySelector('[data-rp-ad]');
  if (!v) return { noVideo: true };
  return {
    src: v.currentSrc.split('/').pop(), readyState: v.readyState, paused: v.paused,
    ended: v.ended, networkState: v.networkState, muted: v.muted, videoWidth: v.videoWidth, time: v.currentTime,
    duration: v.duration, autoplay: v.autoplay, controls: v.controls, inline: v.playsInline,
    sources: Array.prototype.map.call(v.querySelectorAll('source'),
      function (s) { return s.getAttribute('src'); }).join(' '),
    title: document.title,
    unmuteShown: !!u && !u.hidden, notice: n && !n.hidden ? n.textContent : '',
    toggleShown: !!t && !t.hidden, toggleLabel: t ? t.getAttribute('aria-label') : '',
    adShown: !!a && !a.hidden, playerReady: !!t,
    focus: document.activeElement.className || document.activeElement.tagName };
})()`;

const onlyOgg = (p) => !p.formats.includes('webm') && !p.formats.includes('mp4');
// Started, whether it still plays or has already reached the end.
const started = (st) => st.time > 0.1 && (!st.paused || st.ended);

// Polls the page until it has done what it will do on its own.
async function settle(page, p) {
    const start = Date.now();
    const deadline = start + PATIENCE_MS;
    let st;
    let done = false;
    for (;;) {
        st = await page.state();
        // Right after navigating, the old blank document may still be there;
        // the video may be ready before the player's script has run.
        done = !st.noVideo && st.playerReady &&
            (st.notice || (p.autoplay && !p.ad ? started(st) : st.readyState >= 2));
        if (done || Date.now() > deadline) break;
        await sleep(100);
    }
    // Room for what follows the first frame (the sound button, the play button).
    await sleep(300);
    return { ...(await page.state()), settled: done, settledIn: (Date.now() - start) / 1000 };
}

function judge(p, policy, st, how = `(${POLICY_NAME[policy]})`) {
    const name = `${p.name} ${how}`;
    checks++;
    const problems = [];
    const expect = (ok, why) => { if (!ok) problems.push(why); };
    if (st.noVideo) {
        fail(name, 'the page has no <video>');
        return;
    }
    expect(st.title === p.title, `title ${JSON.stringify(st.title)}`);
    expect(st.autoplay === (p.autoplay && !p.ad), `autoplay attribute ${st.autoplay}`);
    expect(st.controls === p.controls, `controls attribute ${st.controls}`);
    // Phones otherwise play only in full screen, and refuse autoplay.
    expect(st.inline, 'no playsinline');
    if (!onlyOgg(p)) expect(st.src !== 'video.ogv', 'plays the Ogg file while a better one exists');
    if (p.damaged) {
        // Where the browser lacks Theora, falling through to the Ogg file
        // would give sound without picture; the page says it cannot play.
        expect(st.notice && !st.toggleShown, 'damaged sources not reported');
    } else {
        if (!onlyOgg(p)) {
            const first = `video.${p.formats[0]}`;
            expect(st.src === first, `plays ${st.src || 'nothing'}, not ${first}`);
            expect(st.readyState >= 2, `readyState ${st.readyState}`);
            expect(st.videoWidth > 0, 'no picture');
        } else {
            expect(st.videoWidth > 0 || st.notice, 'sound only, unexplained');
        }
        if (st.readyState >= 1) {
            expect(Math.abs(st.duration - p.duration) <= DURATION_SLACK,
                `duration ${st.duration}, not ${p.duration}`);
        }
        if (p.ad) {
            expect(st.adShown && st.paused && !st.toggleShown, 'advertisement not first');
        } else if (p.autoplay) {
            expect(started(st), 'autoplay did not start');
            if (p.silent) {
                // Nothing to turn on: started muted, whatever the policy.
                expect(!st.unmuteShown, 'sound button shown for a video without sound');
            } else if (policy === REFUSE) {
                expect(st.muted && st.unmuteShown, 'refused autoplay not muted with the sound button');
            } else {
                expect(!st.muted && !st.unmuteShown, 'allowed autoplay muted');
            }
        } else {
            expect(st.toggleShown, 'no play button');
        }
    }
    if (problems.length) fail(name, `${problems.join('; ')} ${JSON.stringify(st)}`);
    else console.log(`ok ${name}: ${JSON.stringify(st)}`);
}

// --- real presses ---------------------------------------------------------------
const TAB = ['Tab', 'Tab', 9, undefined];
const SPACE = [' ', 'Space', 32, ' '];

// Waits for what a press should lead to, then makes sure it lasts; answers
// the state and whether it was reached.
async function after(page, wanted, ms = PATIENCE_MS) {
    const deadline = Date.now() + ms;
    let st = await page.state();
    while (!wanted(st) && Date.now() < deadline) {
        await sleep(100);
        st = await page.state();
    }
    await sleep(300);
    st = await page.state();
    return { st, ok: wanted(st) };
}

// Where a press must not start the video, the browser that lets any page play
// shows it if it does.
const PRESS_POLICY = { 'ad-escape': ALLOW };

const PRESSES = {
    async unmute(page) {
        const before = await page.state();
        if (!before.muted || !before.unmuteShown || before.ended) {
            return `not playing muted before the press ${JSON.stringify(before)}`;
        }
        await page.click('.rp-unmute');
        const { st, ok } = await after(page, (s) => !s.muted && !s.unmuteShown && started(s) &&
            s.time > before.time);
        return ok ? '' : `the sound button did not bring the sound back to a playing video ${JSON.stringify(st)}`;
    },
    async 'ad-play'(page) {
        await page.click('[data-rp-ad-play]');
        const { st, ok } = await after(page, (s) => !s.adShown && started(s) && !s.muted);
        return ok ? '' : `"Play the video" did not close the advertisement and play ${JSON.stringify(st)}`;
    },
    async 'ad-escape'(page) {
        await page.key(...TAB);
        await page.key('Escape', 'Escape', 27);
        const { st, ok } = await after(page, (s) => !s.adShown && s.paused && s.time === 0);
        return ok ? '' : `Escape did not close the advertisement, or played ${JSON.stringify(st)}`;
    },
    async keyboard(page) {
        await page.key(...TAB);
        const focus = await after(page, (s) => s.focus === 'rp-toggle');
        if (!focus.ok) return `Tab does not reach the play button first (${focus.st.focus})`;
        await page.key(...SPACE);
        const playing = await after(page, (s) => started(s) && !s.muted && s.toggleLabel === 'Pause video');
        if (!playing.ok) return `Space on the play button did not play with sound ${JSON.stringify(playing.st)}`;
        // The clip lasts 3 s, which a loaded machine may spend in the checks
        // above: back to its start, playing on, so the next press meets a
        // playing video.
        await page.evaluate("document.querySelector('video').currentTime = 0");
        await page.key(...SPACE);
        // Not merely over: a short video that played on would end paused too.
        const paused = await after(page, (s) => s.paused && !s.ended && s.toggleLabel === 'Play video');
        return paused.ok ? '' : `Space again did not pause ${JSON.stringify(paused.st)}`;
    },
};

// --- captions -------------------------------------------------------------------
// Every track of the page with its cues, once the browser has them all (or
// the time is up). A disabled track loads nothing: each is made hidden.
const CAPTIONS_JS = `(function () {
  var v = document.querySelector('video');
  if (!v) return null;
  return Array.prototype.map.call(v.querySelectorAll('track'), function (t) {
    if (t.track.mode === 'disabled') t.track.mode = 'hidden';
    var cues = t.track.cues ? Array.prototype.map.call(t.track.cues, function (c) {
      return [c.startTime, c.endTime, c.getCueAsHTML().textContent]; }) : [];
    return { src: t.getAttribute('src'), lang: t.srclang, label: t.label, kind: t.kind,
      isDefault: t.default, cues: cues };
  });
})()`;

function sameCaptions(got, want) {
    if (!got || got.length !== want.length) return false;
    return want.every((w, i) => {
        const g = got[i];
        return g.src === w.src && g.lang === w.lang && g.label === w.label && g.kind === 'captions' &&
            g.isDefault === (i === 0) && g.cues.length === w.cues.length &&
            w.cues.every((c, k) => Math.abs(g.cues[k][0] - c[0]) < 0.002 &&
                Math.abs(g.cues[k][1] - c[1]) < 0.002 && g.cues[k][2] === c[2]);
    });
}

async function checkCaptions(page, p) {
    const deadline = Date.now() + PATIENCE_MS;
    let got = null;
    while (Date.now() < deadline) {
        got = await page.evaluate(CAPTIONS_JS);
        if (sameCaptions(got, p.captions)) return '';
        await sleep(200);
    }
    return `tracks ${JSON.stringify(got)}, not ${JSON.stringify(p.captions)}`;
}

// Serves each captioned page's folder as /<n>/, with the types a browser
// needs for a <track>.
const TYPES = { '.html': 'text/html; charset=utf-8', '.vtt': 'text/vtt; charset=utf-8',
    '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png', '.webm': 'video/webm',
    '.mp4': 'video/mp4', '.ogv': 'video/ogg' };
// A damaged page is also served with its player script held back until its
// sources have long failed, as on a busy machine: the page must still say
// that it cannot play, though their errors came before the script.
const LATE_SCRIPT_MS = 1500;
const served = (p) => p.captions || p.damaged;
const servedFolders = pages.filter(served).map((p) => path.dirname(p.page));
const servedAddress = (p) =>
    `http://127.0.0.1:${server.address()?.port}/${servedFolders.indexOf(path.dirname(p.page))}/index.html`;
const lateFolders = new Set(pages.filter((p) => p.damaged).map((p) => path.dirname(p.page)));
const server = http.createServer((req, res) => {
    const m = /^\/(\d+)\/([^/?#]+)/.exec(req.url);
    const folder = m && servedFolders[Number(m[1])];
    const file = folder && path.join(folder, decodeURIComponent(m[2]));
    if (!file || !fs.existsSync(file)) {
        res.writeHead(404);
        res.end();
        return;
    }
    const send = () => {
        res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
        fs.createReadStream(file).pipe(res);
    };
    if (lateFolders.has(folder) && path.basename(file) === 'player.js') setTimeout(send, LATE_SCRIPT_MS);
    else send();
});
const serverReady = servedFolders.length
    ? new Promise((r) => server.listen(0, '127.0.0.1', r)) : Promise.resolve();

// --- running the jobs -----------------------------------------------------------
async function visit(browser, p, label, fn, width, height, url = `file://${p.page}`) {
    let page;
    try {
        page = await browser.open(url, width, height);
        await fn(page);
    } catch (e) {
        fail(`${p.name} ${label}`, e.message);
    } finally {
        if (page) await page.close().catch(() => {});
    }
}

async function pool(jobs) {
    const queue = [...jobs];
    await Promise.all(Array.from({ length: PARALLEL }, async () => {
        while (queue.length) await queue.shift()();
    }));
}

function jobsFor(browser) {
    const jobs = [];
    for (const p of pages) {
        if (p.captions && browser.policy === REFUSE) {
            for (const [how, url] of [['from the disk', `file://${p.page}`], ['served', servedAddress(p)]]) {
                jobs.push(() => visit(browser, p, `captions ${how}`, async (page) => {
                    checks++;
                    const why = await checkCaptions(page, p);
                    if (why) fail(`${p.name} captions ${how}`, why);
                    else console.log(`ok ${p.name} captions ${how}`);
                }, 1280, 800, url));
            }
        }
        for (const press of p.presses ?? []) {
            if ((PRESS_POLICY[press] ?? REFUSE) !== browser.policy) continue;
            jobs.push(() => visit(browser, p, press, async (page) => {
                const st = await settle(page, p);
                checks++;
                if (!st.settled) {
                    fail(`${p.name} ${press}`, `the page did not settle before the press ${JSON.stringify(st)}`);
                    return;
                }
                const why = await PRESSES[press](page, p);
                if (why) fail(`${p.name} ${press}`, why);
                else console.log(`ok ${p.name} ${press}`);
            }));
        }
        if (p.damaged && browser.policy === REFUSE) {
            jobs.push(() => visit(browser, p, 'with its script late',
                async (page) => judge(p, browser.policy, await settle(page, p), 'with its script late'),
                1280, 800, servedAddress(p)));
        }
        if (browser.policy === ALLOW && !(p.autoplay && !p.ad)) continue;
        jobs.push(() => visit(browser, p, `(${POLICY_NAME[browser.policy]})`,
            async (page) => judge(p, browser.policy, await settle(page, p))));
        if (browser.policy !== REFUSE || !shotsDir || onlyOgg(p) || p.damaged) continue;
        for (const [label, w, h, mobile] of [['wide', 1280, 800, false], ['phone', 390, 844, true],
            ['dialog', 588, 542, false]]) {
            jobs.push(() => visit(browser, p, `${label} screenshot`, async (page) => {
                await page.send('Emulation.setDeviceMetricsOverride',
                    { width: w, height: h, deviceScaleFactor: 1, mobile });
                await settle(page, p);
                const { data } = await page.send('Page.captureScreenshot', { format: 'png' });
                const shot = path.join(shotsDir, `${p.name}-${label}.png`);
                fs.writeFileSync(shot, Buffer.from(data, 'base64'));
            }, w, h));
        }
    }
    return jobs;
}

if (shotsDir) fs.mkdirSync(shotsDir, { recursive: true });
const browsers = [new Browser(REFUSE), new Browser(ALLOW)];
// A hung browser must not hang the test suite.
const watchdog = setTimeout(() => {
    fail('check-pages', 'gave up after 240 s');
    process.exit(1);
}, 240000);
try {
    await serverReady;
    await Promise.all(browsers.map((b) => pool(jobsFor(b))));
} finally {
    server.close();
    await Promise.all(browsers.map((b) => b.close()));
    clearTimeout(watchdog);
}
if (shotsDir) console.log(`screenshots in ${shotsDir}`);
console.log(`checked ${pages.length} pages in ${checks} checks: ${failures} problem(s)`);
process.exit(failures ? 1 : 0);
