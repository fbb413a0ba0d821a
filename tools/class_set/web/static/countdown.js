// Counts down the seconds the server sent, by the time since the page came
// (performance.now), never by the browser's own clock; at nought it loads
// the page again, which the server answers as the clock stands.
(function () {
    var came = performance.now();
    var clocks = Array.prototype.slice.call(document.querySelectorAll('time[data-left]'));
    function two(n) { return (n < 10 ? '0' : '') + n; }
    function tick() {
        var gone = Math.floor((performance.now() - came) / 1000), done = false;
        clocks.forEach(function (clock) {
            var left = Math.max(0, parseInt(clock.dataset.left, 10) - gone);
            clock.textContent = Math.floor(left / 3600) + ':' + two(Math.floor(left % 3600 / 60)) + ':' + two(left % 60);
            if (left === 0) { done = true; }
        });
        if (done) { setTimeout(function () { location.reload(); }, 1000); } else { setTimeout(tick, 250); }
    }
    if (clocks.length) { tick(); }
})();
