/*
 * Player behaviour shared by every page template.
 *
 * A classic script, not a module: browsers refuse module scripts on pages
 * opened straight from a folder, and published pages must work that way.
 * Everything here is an enhancement of a plain <video>; without scripts the
 * page still plays through the browser's own controls.
 */
(function () {
    'use strict';

    var SVG = 'http://www.w3.org/2000/svg';
    var ICONS = {
        play: '<path d="M8 5.5v13a1 1 0 0 0 1.5.86l10.2-6.5a1 1 0 0 0 0-1.72L9.5 4.64A1 1 0 0 0 8 5.5z"/>',
        pause: '<rect x="6" y="5" width="4.5" height="14" rx="1.2"/><rect x="13.5" y="5" width="4.5" height="14" rx="1.2"/>',
        muted: '<path d="M4 9.5v5a1 1 0 0 0 1 1h3l4.3 3.6a.6.6 0 0 0 1-.46V5.36a.6.6 0 0 0-1-.46L8 8.5H5a1 1 0 0 0-1 1z"/>' +
            '<path d="M16.5 9.5l5 5m0-5l-5 5" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round"/>'
    };
    var OGG_FILE = /\.og[gv](?:$|[?#])/i;

    function icon(name) {
        var svg = document.createElementNS(SVG, 'svg');
        svg.setAttribute('viewBox', '0 0 24 24');
        svg.setAttribute('aria-hidden', 'true');
        svg.setAttribute('fill', 'currentColor');
        svg.innerHTML = ICONS[name];
        return svg;
    }

    function button(className, label, iconName, text) {
        var b = document.createElement('button');
        b.type = 'button';
        b.className = className;
        // A visible text is the name; only icon buttons need a label.
        if (!text) b.setAttribute('aria-label', label);
        if (iconName) b.appendChild(icon(iconName));
        if (text) {
            var span = document.createElement('span');
            span.textContent = text;
            b.appendChild(span);
        }
        return b;
    }

    function options(video) {
        try {
            return JSON.parse(video.getAttribute('data-setup') || '{}') || {};
        } catch (e) {
            return {};
        }
    }

    function isOgg(source) {
        return /ogg/i.test(source.getAttribute('type') || '') ||
            OGG_FILE.test(source.getAttribute('src') || '');
    }

    // Chrome and Firefox dropped Theora and Safari never had it, yet they all
    // still answer "maybe" to a bare video/ogg because they play Ogg audio. Left
    // in the list behind a WebM or MP4 that fails, the Ogg file would be chosen
    // and play as sound over a blank picture. Where the browser cannot decode
    // Theora and a playable source exists, the Ogg sources go; the order of the
    // others is kept.
    function dropUnplayableOgg(video) {
        if (video.canPlayType('video/ogg; codecs="theora"')) return false;
        var sources = video.querySelectorAll('source');
        var ogg = [];
        var better = false;
        for (var i = 0; i < sources.length; i++) {
            if (isOgg(sources[i])) ogg.push(sources[i]);
            else if (video.canPlayType(sources[i].getAttribute('type') || '')) better = true;
        }
        if (!better || ogg.length === 0) return false;
        var wasChosen = OGG_FILE.test(video.currentSrc || '');
        ogg.forEach(function (s) { s.parentNode.removeChild(s); });
        if (wasChosen) video.load();
        return wasChosen;
    }

    function formatTime(seconds) {
        if (!isFinite(seconds) || seconds < 0) return '';
        var s = Math.round(seconds);
        var h = Math.floor(s / 3600);
        var m = Math.floor(s / 60) % 60;
        var sec = ('0' + (s % 60)).slice(-2);
        return h ? h + ':' + ('0' + m).slice(-2) + ':' + sec : m + ':' + sec;
    }

    function fileLabel(source) {
        var type = (source.getAttribute('type') || '').toLowerCase();
        if (type.indexOf('webm') >= 0) return 'WebM';
        if (type.indexOf('mp4') >= 0) return 'MP4';
        if (type.indexOf('ogg') >= 0) return 'Ogg';
        return source.getAttribute('src');
    }

    function setUp(player) {
        var video = player.querySelector('video');
        if (!video) return;
        var opts = options(video);
        var wantsAutoplay = opts.autoplay === true || video.hasAttribute('autoplay');
        // A video without sound has nothing to turn on: muted, browsers let it
        // start on its own, and no "sound is off" button is offered.
        var silent = opts.sound === false;
        var ad = player.querySelector('[data-rp-ad]');
        var adOpen = false;
        var started = false;
        var pending = false;
        var failed = false;

        // Listed before the Ogg check removes anything: the files are all in the
        // folder and a viewer may want any of them. The block stays hidden
        // (its markup says so) when there is nothing to offer.
        var sources = video.querySelectorAll('source');
        document.querySelectorAll('[data-rp-downloads]').forEach(function (block) {
            var list = block.querySelector('ul') || block;
            for (var i = 0; i < sources.length; i++) {
                var li = document.createElement('li');
                var a = document.createElement('a');
                a.href = sources[i].getAttribute('src');
                a.setAttribute('download', '');
                a.textContent = fileLabel(sources[i]);
                li.appendChild(a);
                list.appendChild(li);
            }
            block.hidden = sources.length === 0;
        });

        var reloaded = dropUnplayableOgg(video);

        var toggle = button('rp-toggle', 'Play video', 'play');
        var unmute = button('rp-unmute', '', 'muted', 'Sound is off \u00b7 Turn on');
        var notice = document.createElement('p');
        notice.className = 'rp-notice';
        notice.setAttribute('role', 'status');
        unmute.hidden = true;
        notice.hidden = true;
        player.appendChild(toggle);
        player.appendChild(unmute);
        player.appendChild(notice);

        function say(text) {
            notice.textContent = text;
            notice.hidden = !text;
        }

        function update() {
            var playing = !video.paused && !video.ended;
            // With the browser's controls the big button only invites the first
            // play; without them it is the only control and stays, fading out
            // while the video plays (it comes back on hover and keyboard focus).
            toggle.hidden = adOpen || pending || failed || (video.controls && (started || playing));
            toggle.setAttribute('aria-label', playing ? 'Pause video' : 'Play video');
            toggle.replaceChild(icon(playing ? 'pause' : 'play'), toggle.firstChild);
            player.classList.toggle('is-playing', playing);
            player.classList.toggle('is-started', started);
            if (!video.muted) unmute.hidden = true;
        }

        function play() {
            var attempt = video.play();
            if (attempt && attempt.catch) {
                attempt.catch(function (err) {
                    if (err && err.name === 'NotAllowedError') update();
                });
            }
        }

        function togglePlay() {
            if (video.paused || video.ended) play();
            else video.pause();
        }

        // Browsers refuse to start a video with sound before the viewer has
        // touched the page. Muted it may start, so the page says so and one
        // click brings the sound back.
        function autoplay() {
            if (silent) video.muted = true;
            var attempt = video.play();
            if (!attempt || !attempt.then) return;
            pending = true;
            update();
            attempt.then(function () {
                pending = false;
                update();
            }, function (err) {
                if (!err || err.name !== 'NotAllowedError' || video.muted) {
                    pending = false;
                    update();
                    return;
                }
                video.muted = true;
                var retry = video.play();
                var settle = function (ok) {
                    pending = false;
                    if (!ok) video.muted = false;
                    unmute.hidden = !ok;
                    update();
                };
                if (retry && retry.then) retry.then(function () { settle(true); }, function () { settle(false); });
                else settle(true);
            });
        }

        function closeAd(start) {
            if (!adOpen) return;
            adOpen = false;
            ad.hidden = true;
            video.removeAttribute('inert');
            update();
            if (start) play();
            (video.controls ? video : toggle).focus();
        }

        toggle.addEventListener('click', function () {
            if (video.paused || video.ended) {
                play();
                // Without the browser's controls focus stays on the button while
                // it fades, so Space pauses again; with them it moves to the
                // video, as the button goes away.
                if (video.controls) video.focus();
            } else {
                video.pause();
            }
        });
        unmute.addEventListener('click', function () {
            video.muted = false;
            if (video.volume === 0) video.volume = 1;
            unmute.hidden = true;
            if (video.paused) play();
            (video.controls ? video : toggle).focus();
        });
        if (!video.controls) video.addEventListener('click', togglePlay);

        ['play', 'playing', 'pause', 'ended', 'volumechange', 'emptied'].forEach(function (type) {
            video.addEventListener(type, update);
        });
        video.addEventListener('playing', function () {
            started = true;
            say('');
            update();
        });
        video.addEventListener('play', function () {
            // Started by other means (media keys, the browser's own menu):
            // the advertisement has had its chance.
            if (adOpen) closeAd(false);
        });
        function metadata() {
            if (OGG_FILE.test(video.currentSrc) && video.videoWidth === 0) {
                say('This browser plays only the sound of this video: it cannot show Ogg Theora pictures.');
            }
            describe(video);
        }
        video.addEventListener('loadedmetadata', metadata);
        // A local file may have loaded before this deferred script ran.
        if (video.readyState >= 1) metadata();
        function cannotPlay() {
            say('This video cannot be played in this browser.');
            failed = true;
            pending = false;
            update();
        }
        // Errors of <source> elements do not bubble; catch them on the way down.
        video.addEventListener('error', function () {
            if (video.networkState === video.NETWORK_NO_SOURCE || video.error) cannotPlay();
        }, true);
        // Every source may have failed before this deferred script ran (a
        // local page, a busy machine): their errors are gone, and the element
        // waits with no source, having tried one. Before its first try, and
        // right after load(), it shows no source too, but its errors are
        // still to come.
        if (!reloaded && video.currentSrc && video.readyState === 0 &&
            video.networkState === video.NETWORK_NO_SOURCE) {
            cannotPlay();
        }

        if (ad) {
            adOpen = true;
            video.setAttribute('inert', '');
            var link = ad.querySelector('a');
            // Without an address the picture is not a link to anywhere.
            if (link && !link.getAttribute('href')) link.removeAttribute('href');
            ad.querySelectorAll('[data-rp-ad-close]').forEach(function (b) {
                b.addEventListener('click', function () { closeAd(false); });
            });
            ad.querySelectorAll('[data-rp-ad-play]').forEach(function (b) {
                b.addEventListener('click', function () { closeAd(true); });
            });
            ad.addEventListener('keydown', function (e) {
                if (e.key === 'Escape') closeAd(false);
            });
        }

        update();
        fileCaptions(video);
        if (wantsAutoplay && !ad) autoplay();
    }

    // Chromium refuses a <track> of a page opened from the disk (the file
    // counts as another origin), so the package also carries the cues as a
    // script, which such a page may load, and the player puts them into the
    // tracks itself. The cue texts are WebVTT text, escaped as in the files.
    function fileCaptions(video) {
        var tracks = video.querySelectorAll('track');
        if (!tracks.length || location.protocol !== 'file:') return;
        var script = document.createElement('script');
        script.src = 'captions.js';
        script.onload = function () {
            var all = window.reelpageCaptions || {};
            Array.prototype.forEach.call(tracks, function (el) {
                var cues = all[el.getAttribute('src')];
                if (!cues) return;
                var filled = false;
                var fill = function () {
                    if (filled || !el.track) return;
                    filled = true;
                    cues.forEach(function (c) { el.track.addCue(new VTTCue(c[0], c[1], c[2])); });
                };
                // A track loads when it is shown or chosen; its file fails
                // then, and only then are its cues put in, so that a browser
                // that does load it never gets them twice.
                if (el.readyState === 3) fill();
                el.addEventListener('error', fill);
            });
        };
        document.head.appendChild(script);
    }

    // Fills the optional facts of a template (length, picture size).
    function describe(video) {
        document.querySelectorAll('[data-rp-duration]').forEach(function (el) {
            el.textContent = formatTime(video.duration);
        });
        document.querySelectorAll('[data-rp-resolution]').forEach(function (el) {
            el.textContent = video.videoWidth ? video.videoWidth + '\u00d7' + video.videoHeight : '';
        });
    }

    document.querySelectorAll('.rp-player').forEach(setUp);
})();
