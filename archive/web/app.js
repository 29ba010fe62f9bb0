// Plays a moment in the page's player: every link with data-clip starts the
// clip of that moment here instead of opening the recording's page.
(function () {
  "use strict";
  const panel = document.querySelector(".player");
  if (!panel) return;
  const player = OnesegPlayer.attach(panel);
  const now = document.querySelector(".player .now");
  const share = document.querySelector(".player .share input");
  const copy = document.querySelector(".player .share button");
  let active = null;
  let playing = null;

  function play(link, range) {
    playing = link;
    if (active) active.classList.remove("active");
    active = link.closest(".hit, li") || link;
    active.classList.add("active");
    const parts = OnesegPlayer.clipParts(link.dataset.clip);
    // A line of the transcript plays in the clip already loaded when it can.
    if (now) now.textContent = link.dataset.label || "";
    if (share) share.value = new URL(link.getAttribute("href"), location.href).href;
    if (parts && !range && link.closest(".transcript")) player.seek(parts.day, parts.name, parts.t);
    else player.load(link.dataset.clip, range);
  }

  document.addEventListener("click", function (event) {
    const link = event.target.closest("a[data-clip]");
    if (!link || event.ctrlKey || event.metaKey || event.shiftKey || event.button !== 0) return;
    event.preventDefault();
    play(link);
  });

  // A programme's recordings play one after another: a link names the part
  // whose clip follows its own.
  player.video.addEventListener("ended", function () {
    const then = playing && playing.dataset.then;
    const next = then && document.querySelector('a[data-part="' + then + '"]');
    if (next) play(next);
  });

  player.video.addEventListener("error", function () {
    if (now) now.textContent = "再生できません（" + (player.video.error ? player.video.error.code : "?") + "）";
  });

  if (copy && share) {
    copy.addEventListener("click", function () {
      share.select();
      if (navigator.clipboard) navigator.clipboard.writeText(share.value).catch(function () {});
    });
  }

  // A shared link to a moment opens with that moment playing; one with an
  // end plays exactly that range.
  const start = document.querySelector("a[data-clip][data-start]");
  if (start) {
    start.scrollIntoView({ block: "center" });
    const end = start.dataset.end;
    play(start, end === undefined ? undefined : { startAt: OnesegPlayer.clipParts(start.dataset.clip).t, end: Number(end) });
  }
})();

// Saved searches: "この検索を保存" on the search page, renaming and removing
// on /watches. Each is one POST; the page then says what happened.
(function () {
  function post(path, values) {
    const query = new URLSearchParams(values).toString();
    return fetch(path + (query ? "?" + query : ""), { method: "POST" }).then(function (answer) {
      return answer.json().then(function (body) {
        if (!answer.ok) throw new Error(body.error || answer.status);
        return body;
      });
    });
  }
  document.addEventListener("click", function (event) {
    const save = event.target.closest("button.save-search");
    if (save) {
      const name = window.prompt("保存する名前（空でもかまいません）", save.dataset.q) || "";
      post("/api/watches", { q: save.dataset.q, station: save.dataset.station, name: name }).then(
        function () { save.textContent = "保存しました"; save.disabled = true; },
        function (error) { save.textContent = "保存できません：" + error.message; });
      return;
    }
    const button = event.target.closest("tr[data-watch] button[data-action]");
    if (!button) return;
    const row = button.closest("tr[data-watch]");
    const path = "/api/watches/" + row.dataset.watch + "/" + button.dataset.action;
    const values = button.dataset.action === "rename" ? { name: row.querySelector("input").value } : {};
    post(path, values).then(
      function () { if (button.dataset.action === "delete") row.remove(); else button.textContent = "変えました"; },
      function (error) { button.textContent = error.message; });
  });
})();
