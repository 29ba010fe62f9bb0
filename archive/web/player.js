// The archive's player, for every page with one (search, recording, and the
// live and programme pages): a clip of a moment with its captions, timed
// against where the clip really begins; the transcript that follows it; in
// and out marks to export, share or save a range; the scene strip and the
// pictures over the progress bar; the keys. app.js and the other pages call
// OnesegPlayer.attach(panel) and then load(...) / seek(...).
(function () {
  "use strict";

  const longestClip = 600;  // seconds an export or a saved clip may last

  function clock(seconds) {
    const s = Math.max(0, Math.floor(seconds));
    return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0");
  }

  // "/clip/[<root>/]<day>/<name>.mp4?t=T" -> {place: "[<root>/]<day>", root, day, name, t}
  function clipParts(url) {
    const match = /\/clip\/(?:([^/?]+)\/)?(\d{6})\/(\w+)\.mp4\?t=(\d+)/.exec(url || "");
    if (!match) return null;
    return { place: (match[1] ? match[1] + "/" : "") + match[2], root: match[1] ? decodeURIComponent(match[1]) : "",
             day: match[2], name: match[3], t: Number(match[4]) };
  }

  function element(tag, attributes, text) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function button(label, title) {
    return element("button", { type: "button", title: title || label }, label);
  }

  class Player {
    constructor(panel) {
      this.panel = panel;
      this.video = panel.querySelector("video");
      this.view = document.querySelector("[data-recording]");   // the recording view, if this is one
      this.clip = null;        // {day, name, t}
      this.origin = null;      // where clip time 0 lies on the recording's timeline
      this.end = null;         // a shared range's end: playback pauses there
      this.marks = { in: null, out: null };
      this.captionsOn = true;
      this.buildControls();
      this.video.addEventListener("timeupdate", () => this.tick());
      document.addEventListener("keydown", (event) => this.key(event));
    }

    buildControls() {
      const bar = element("div", { class: "controls" });
      this.captionsButton = button("字幕 入", "字幕の表示を切り替えます");
      this.captionsButton.setAttribute("aria-pressed", "true");
      this.captionsButton.addEventListener("click", () => this.toggleCaptions());
      this.inButton = button("[ 開始", "ここを切り出しの開始にします（i）");
      this.outButton = button("終了 ]", "ここを切り出しの終了にします（o）");
      this.inButton.addEventListener("click", () => this.mark("in"));
      this.outButton.addEventListener("click", () => this.mark("out"));
      this.range = element("span", { class: "range muted" });
      this.exportLink = element("a", { class: "button", download: "" }, "書き出し");
      this.saveButton = button("保存", "この範囲をクリップとして保存します");
      this.saveButton.addEventListener("click", () => this.openSave());
      bar.append(this.captionsButton, this.inButton, this.outButton, this.range, this.exportLink, this.saveButton);
      this.form = element("form", { class: "save", hidden: "" });
      this.form.append(element("input", { name: "title", maxlength: "100", placeholder: "題名", "aria-label": "題名" }),
                       element("textarea", { name: "note", maxlength: "600", placeholder: "メモ", "aria-label": "メモ" }),
                       element("button", { type: "submit" }, "保存する"));
      this.form.addEventListener("submit", (event) => { event.preventDefault(); this.save(); });
      this.message = element("div", { class: "message muted", role: "status" });
      this.video.after(bar, this.form, this.message);
      this.showRange();
      if (this.view) this.buildScrubber();
    }

    // Loads the clip of a moment; `options.end` plays a shared range and stops there.
    load(clipUrl, options) {
      const parts = clipParts(clipUrl);
      this.clip = parts;
      this.origin = null;
      this.end = options && options.end !== undefined ? options.end : null;
      this.startAt = options && options.startAt !== undefined ? options.startAt : null;
      this.stream(clipUrl);
      if (parts) this.loadCaptions(parts);
      if (parts && this.end !== null) {
        this.marks = { in: Math.floor(this.startAt), out: this.end, clip: parts };
        this.showRange();
      }
      // A moment inside the clip plays once the clip is placed there.
      if (this.startAt === null || !parts) this.startPlaying();
    }

    // A clip is sent while ffmpeg makes it, so the server cannot answer
    // ranges and the element alone could not seek in it; fed through a Media
    // Source, all that has arrived can be sought in. Without one (older
    // phones) the clip plays as it comes.
    stream(clipUrl) {
      if (this.feed) this.feed.abort();
      this.video.dataset.clip = clipUrl;
      if (!window.MediaSource) {
        this.video.src = clipUrl;
        return;
      }
      const feed = new AbortController();
      this.feed = feed;
      const source = new MediaSource();
      this.video.src = URL.createObjectURL(source);
      source.addEventListener("sourceopen", () => {
        feedSource(source, clipUrl, feed.signal).catch((error) => {
          if (!feed.signal.aborted) this.say("再生できません（" + error.message + "）");
        });
      }, { once: true });
    }

    startPlaying() {
      // Sound needs a gesture in most browsers; muted playback does not.
      this.video.muted = false;
      this.video.play().catch(() => {
        this.video.muted = true;
        return this.video.play().catch(() => {});
      });
    }

    async loadCaptions(parts) {
      const url = "/captions/" + parts.place + "/" + parts.name + ".vtt?t=" + parts.t;
      for (const old of this.video.querySelectorAll("track")) old.remove();
      try {
        const answer = await fetch(url);
        if (this.clip !== parts) return;
        if (!answer.ok) throw new Error(String(answer.status));
        const origin = Number(answer.headers.get("X-Clip-Origin"));
        const text = await answer.text();
        if (this.clip !== parts) return;  // another clip was asked for meanwhile
        this.origin = origin;
        const track = element("track", { kind: "captions", srclang: "ja", label: "字幕", default: "",
                                         src: URL.createObjectURL(new Blob([text], { type: "text/vtt" })) });
        this.video.append(track);
        track.track.mode = this.captionsOn ? "showing" : "hidden";
        if (this.startAt !== null) this.placeAndPlay(parts);
        this.tick();
      } catch (error) {
        this.say("字幕を読み込めません");
        if (this.clip === parts && this.startAt !== null) this.startPlaying();
      }
    }

    // A clip being fed can be sought only in what has arrived.
    async placeAndPlay(parts) {
      const target = this.startAt - this.origin + 0.2;
      for (let waited = 0; waited < 20000 && this.clip === parts; waited += 100) {
        const buffered = this.video.buffered;
        if (buffered.length && buffered.end(buffered.length - 1) >= target) break;
        await new Promise((done) => setTimeout(done, 100));
      }
      if (this.clip !== parts) return;
      this.seekInClip(this.startAt);
      this.startAt = null;
      this.startPlaying();
    }

    toggleCaptions() {
      this.captionsOn = !this.captionsOn;
      this.captionsButton.textContent = this.captionsOn ? "字幕 入" : "字幕 切";
      this.captionsButton.setAttribute("aria-pressed", String(this.captionsOn));
      for (const track of this.video.textTracks) track.mode = this.captionsOn ? "showing" : "hidden";
    }

    // Seconds on the recording's timeline now playing, or null.
    now() {
      return this.origin === null ? null : this.origin + this.video.currentTime;
    }

    seekInClip(seconds) {
      this.video.currentTime = Math.max(0, seconds - this.origin);
    }

    // Plays a moment of a recording: in the loaded clip when it holds it,
    // else the clip of that moment.
    seek(place, name, seconds) {
      const clip = this.clip;
      const loaded = clip && clip.place === place && clip.name === name && this.origin !== null &&
        seconds >= this.origin && (!isFinite(this.video.duration) || seconds < this.origin + this.video.duration);
      if (loaded) {
        this.seekInClip(seconds);
        if (this.video.paused) this.startPlaying();
        return;
      }
      this.load("/clip/" + place + "/" + name + ".mp4?t=" + Math.max(0, Math.floor(seconds)), { startAt: seconds });
    }

    seekBy(delta) {
      const now = this.now();
      if (now !== null) this.seek(this.clip.place, this.clip.name, Math.max(0, now + delta));
    }

    tick() {
      const now = this.now();
      if (now === null) return;
      if (this.end !== null && now >= this.end) {
        this.video.pause();
        this.end = null;
      }
      // A programme's transcript follows too, through the lines of the recording playing.
      if (this.clip) followTranscript(now, this.clip);
      if (this.scrubber && this.clip && this.clip.name === this.view.dataset.name) this.showPosition(now);
    }

    // Whole seconds: the mark is where the second began (in) or ended (out).
    mark(which) {
      const now = this.now();
      if (now === null) return this.say("先に再生してください");
      this.marks[which] = which === "in" ? Math.floor(now) : Math.ceil(now);
      this.marks.clip = this.clip;
      this.showRange();
    }

    markedRange() {
      const { in: from, out: to } = this.marks;
      if (from === null || to === null) return null;
      if (to <= from) return { error: "終了は開始より後にしてください" };
      if (to - from > longestClip) return { error: "切り出せるのは 10 分までです" };
      return { from: from, to: to };
    }

    showRange() {
      const range = this.markedRange();
      const marks = this.marks;
      this.range.textContent = (marks.in === null ? "–" : clock(marks.in)) + " 〜 " + (marks.out === null ? "–" : clock(marks.out)) +
        (range && !range.error ? "（" + (range.to - range.from) + " 秒）" : "");
      const usable = range && !range.error;
      this.exportLink.toggleAttribute("hidden", !usable);
      this.saveButton.toggleAttribute("hidden", !usable);
      if (range && range.error) this.say(range.error);
      if (!usable) return;
      const query = "?from=" + range.from + "&to=" + range.to;
      this.exportLink.href = "/export/" + marks.clip.place + "/" + marks.clip.name + ".mp4" + query;
      const share = this.panel.querySelector(".share input");
      const page = "/recording/" + marks.clip.place + "/" + marks.clip.name + "?t=" + range.from + "&end=" + range.to;
      if (share) share.value = new URL(page, location.href).href;
    }

    openSave() {
      this.form.hidden = !this.form.hidden;
      if (!this.form.hidden) this.form.querySelector("input").focus();
    }

    async save() {
      const range = this.markedRange();
      if (!range || range.error) return;
      const clip = this.marks.clip;
      const body = new URLSearchParams({ root: clip.root, day: clip.day, name: clip.name, from: range.from, to: range.to,
                                         title: this.form.elements.title.value, note: this.form.elements.note.value });
      const answer = await fetch("/api/clips?" + body, { method: "POST" });
      const reply = await answer.json().catch(() => ({}));
      if (!answer.ok) return this.say(reply.error || "保存できませんでした");
      this.form.hidden = true;
      this.form.reset();
      this.message.replaceChildren("保存しました（", element("a", { href: "/clips" }, "クリップ一覧"), "）");
    }

    say(text) {
      this.message.textContent = text;
    }

    key(event) {
      if (event.ctrlKey || event.metaKey || event.altKey || event.target.closest("input, textarea, select")) return;
      const actions = {
        " ": () => (this.video.paused ? this.startPlaying() : this.video.pause()),
        ArrowLeft: () => this.seekBy(-5),
        ArrowRight: () => this.seekBy(5),
        j: () => this.stepCaption(-1),
        k: () => this.stepCaption(1),
        i: () => this.mark("in"),
        o: () => this.mark("out"),
      };
      const action = actions[event.key];
      if (!action || (event.key === " " && event.target.closest("button, a"))) return;
      event.preventDefault();
      action();
    }

    stepCaption(direction) {
      const lines = transcriptLines();
      const now = this.now();
      if (!lines.length || now === null || !this.view) return;
      // The line under way counts as passed when stepping back more than a second into it.
      const target = direction > 0 ? lines.find((line) => line.at > now + 0.5)
                                   : lines.slice().reverse().find((line) => line.at < now - 1.5);
      if (target) this.seek(this.view.dataset.place, this.view.dataset.name, target.at);
    }

    // The bar under the picture: the recording's covered length; hovering
    // shows the picture of that moment, a click plays it.
    buildScrubber() {
      const length = Number(this.view.dataset.length);
      if (!(length > 0)) return;
      this.scrubber = element("div", { class: "scrubber", role: "slider", "aria-label": "録画の位置",
                                       "aria-valuemin": "0", "aria-valuemax": String(length) });
      this.scrubber.append(element("div", { class: "played" }));
      const preview = element("div", { class: "preview", hidden: "" });
      preview.append(element("img", { alt: "" }), element("span"));
      this.scrubber.append(preview);
      const momentAt = (event) => {
        const box = this.scrubber.getBoundingClientRect();
        return Math.min(length, Math.max(0, (event.clientX - box.left) / box.width * length));
      };
      this.scrubber.addEventListener("pointermove", (event) => {
        const at = momentAt(event);
        preview.hidden = false;
        preview.style.left = (at / length * 100) + "%";
        preview.querySelector("img").src = stripPicture(at);
        preview.querySelector("span").textContent = clock(at);
      });
      this.scrubber.addEventListener("pointerleave", () => { preview.hidden = true; });
      this.scrubber.addEventListener("click", (event) => this.seek(this.view.dataset.place, this.view.dataset.name, momentAt(event)));
      this.video.after(this.scrubber);
    }

    showPosition(now) {
      const length = Number(this.view.dataset.length);
      this.scrubber.querySelector(".played").style.width = Math.min(100, now / length * 100) + "%";
      this.scrubber.setAttribute("aria-valuenow", String(Math.floor(now)));
    }
  }

  // The codecs of a fragmented MP4 from its header (the moov before the first
  // moof): "avc1.PPCCLL" from the picture's avcC, AAC for the sound.
  function codecsOf(bytes) {
    const at = (name) => {
      outer: for (let i = 0; i + 4 <= bytes.length; ++i) {
        for (let k = 0; k < 4; ++k) if (bytes[i + k] !== name.charCodeAt(k)) continue outer;
        return i;
      }
      return -1;
    };
    const codecs = [];
    const avcC = at("avcC");
    if (avcC >= 0 && avcC + 8 <= bytes.length) {
      codecs.push("avc1." + [1, 2, 3].map((k) => bytes[avcC + 4 + k].toString(16).padStart(2, "0")).join(""));
    }
    if (at("mp4a") >= 0) codecs.push("mp4a.40.2");
    return codecs;
  }

  function appended(buffer, bytes) {
    return new Promise((done, failed) => {
      buffer.addEventListener("updateend", done, { once: true });
      buffer.addEventListener("error", () => failed(new Error("append")), { once: true });
      buffer.appendBuffer(bytes);
    });
  }

  async function feedSource(source, clipUrl, signal) {
    const answer = await fetch(clipUrl, { signal: signal });
    if (!answer.ok) throw new Error(String(answer.status));
    const reader = answer.body.getReader();
    let header = new Uint8Array(0);
    let buffer = null;
    for (;;) {
      const { done, value } = await reader.read();
      if (done || signal.aborted) break;
      if (!buffer) {
        const joined = new Uint8Array(header.length + value.length);
        joined.set(header);
        joined.set(value, header.length);
        header = joined;
        // The header is whole once the first fragment has begun.
        if (!new TextDecoder("latin1").decode(header.subarray(0, 1 << 16)).includes("moof")) continue;
        buffer = source.addSourceBuffer('video/mp4; codecs="' + codecsOf(header).join(", ") + '"');
        await appended(buffer, header);
        continue;
      }
      await appended(buffer, value);
    }
    if (buffer && !signal.aborted && source.readyState === "open") source.endOfStream();
  }

  // The transcript's lines with their moments (the links' "t"); with `clip`,
  // only those of its recording.
  function transcriptLines(clip) {
    return Array.from(document.querySelectorAll(".transcript li")).map((li) => {
      const parts = clipParts((li.querySelector("a[data-clip]") || {}).dataset?.clip);
      if (!parts || (clip && (parts.place !== clip.place || parts.name !== clip.name))) return null;
      return { li: li, at: parts.t };
    }).filter(Boolean);
  }

  // Marks the line being said and keeps it in view inside the list (the page
  // itself does not move under the reader).
  function followTranscript(now, clip) {
    const lines = transcriptLines(clip);
    let current = null;
    for (const line of lines) {
      if (line.at <= now) current = line;
      else break;
    }
    const marked = document.querySelector(".transcript li.current");
    if (current && marked === current.li) return;
    if (marked) marked.classList.remove("current");
    if (!current) return;
    current.li.classList.add("current");
    const list = current.li.closest(".transcript");
    const top = current.li.offsetTop - list.offsetTop;
    if (top < list.scrollTop || top + current.li.offsetHeight > list.scrollTop + list.clientHeight) {
      list.scrollTop = Math.max(0, top - list.clientHeight / 3);
    }
  }

  // The strip's picture of a moment (each stands for the 5 s from its own).
  function stripPicture(at) {
    const pictures = Array.from(document.querySelectorAll(".strip button[data-t]"));
    let best = pictures[0];
    for (const picture of pictures) if (Number(picture.dataset.t) <= at) best = picture;
    return best ? best.querySelector("img").src : "";
  }

  // The saved clips' page: a clip removed at once, without reloading it.
  document.addEventListener("click", async (event) => {
    const remove = event.target.closest(".clips li[data-id] button.remove");
    if (!remove) return;
    const item = remove.closest("li");
    const answer = await fetch("/api/clips/" + item.dataset.id + "/delete", { method: "POST" });
    if (answer.ok) item.remove();
  });

  window.OnesegPlayer = {
    current: null,   // the page's player
    attach(panel) {
      const player = new Player(panel);
      this.current = player;
      // The scene strip plays its moment.
      document.addEventListener("click", (event) => {
        const picture = event.target.closest(".strip button[data-t]");
        if (!picture || !player.view) return;
        player.seek(player.view.dataset.place, player.view.dataset.name, Number(picture.dataset.t));
      });
      return player;
    },
    clipParts: clipParts,
  };
})();
