// A live station: asks for the captions decoded since the last one it has and
// puts each at the top of the list beside the picture; starts the picture
// again when its stream ended (the station moved on to its next recording
// before the index knew it, or paused).
(function () {
  "use strict";
  const view = document.querySelector(".live-view");
  if (!view) return;
  const list = view.querySelector(".live-captions");
  const video = view.querySelector("video");
  const source = "/api/live/" + view.dataset.channel + "/captions?after=";
  const keep = 200;
  let after = view.dataset.after || "0";

  function add(caption) {
    const item = document.createElement("li");
    item.dataset.id = caption.id;
    const time = document.createElement("span");
    time.className = "t";
    time.textContent = caption.time.slice(11);
    const text = document.createElement("span");
    text.textContent = caption.text;
    item.append(time, text);
    list.prepend(item);
    while (list.children.length > keep) list.lastElementChild.remove();
  }

  function poll() {
    fetch(source + encodeURIComponent(after), { cache: "no-store" })
      .then(function (answer) { return answer.ok ? answer.json() : null; })
      .then(function (data) {
        if (data) {
          data.captions.forEach(add);
          after = String(data.last);
        }
      })
      .catch(function () {})
      .finally(function () { setTimeout(poll, 1500); });
  }
  setTimeout(poll, 1500);

  // A station that stopped is asked for again a few times, not for ever.
  let restarts = 0;
  function restart() {
    if (++restarts > 10) return;
    setTimeout(function () {
      video.src = video.src.split("?")[0] + "?again=" + Date.now();
      video.play().catch(function () {});
    }, 3000);
  }
  video.addEventListener("ended", restart);
  video.addEventListener("error", restart);
})();
