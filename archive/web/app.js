// Plays a moment in the page's player: every link with data-clip starts the
// clip of that moment here instead of opening the recording's page.
(function () {
  "use strict";
  const player = document.querySelector(".player video");
  if (!player) return;
  const now = document.querySelector(".player .now");
  const share = document.querySelector(".player .share input");
  const copy = document.querySelector(".player .share button");
  let active = null;
  let playing = null;

  function play(link) {
    playing = link;
    if (active) active.classList.remove("active");
    active = link.closest(".hit, li") || link;
    active.classList.add("active");
    player.src = link.dataset.clip;
    if (now) now.textContent = link.dataset.label || "";
    if (share) share.value = new URL(link.getAttribute("href"), location.href).href;
    // Sound needs a gesture in most browsers; muted playback does not.
    player.muted = false;
    player.play().catch(function () {
      player.muted = true;
      return player.play().catch(function () {});
    });
  }

  document.addEventListener("click", function (event) {
    const link = event.target.closest("a[data-clip]");
    if (!link || event.ctrlKey || event.metaKey || event.shiftKey || event.button !== 0) return;
    event.preventDefault();
    play(link);
  });

  // A programme's recordings play one after another: a link names the part
  // whose clip follows its own.
  player.addEventListener("ended", function () {
    const then = playing && playing.dataset.then;
    const next = then && document.querySelector('a[data-part="' + then + '"]');
    if (next) play(next);
  });

  player.addEventListener("error", function () {
    if (now) now.textContent = "再生できません（" + (player.error ? player.error.code : "?") + "）";
  });

  if (copy && share) {
    copy.addEventListener("click", function () {
      share.select();
      if (navigator.clipboard) navigator.clipboard.writeText(share.value).catch(function () {});
    });
  }

  // A shared link to a moment opens with that moment playing.
  const start = document.querySelector("a[data-clip][data-start]");
  if (start) {
    start.scrollIntoView({ block: "center" });
    play(start);
  }
})();
