// The board shows itself again every 5 seconds, until someone pauses it.
(function () {
    var timer = setTimeout(function () { location.reload(); }, 5000);
    var button = document.getElementById('pause');
    button.hidden = false;
    button.addEventListener('click', function () {
        if (timer) {
            clearTimeout(timer);
            timer = null;
            button.textContent = button.dataset.resume;
        } else {
            location.reload();
        }
    });
})();
