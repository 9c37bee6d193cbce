'use strict';
// Draws the station's state: one tile per port, the run and the totals. Every
// "state" event carries the whole state, so a missed one costs nothing.
(function () {
  const tiles = document.getElementById('tiles');
  const byPort = new Map();
  let finished = false;

  function setText(element, value) {
    const text = value === undefined || value === null ? '' : String(value);
    if (element.textContent !== text) {
      element.textContent = text;
    }
  }

  function element(tag, className, parent) {
    const made = document.createElement(tag);
    made.className = className;
    parent.appendChild(made);
    return made;
  }

  function rate(bytesPerSecond) {
    if (bytesPerSecond >= 1048576) {
      return (bytesPerSecond / 1048576).toFixed(2) + ' MiB/s';
    }
    if (bytesPerSecond >= 1024) {
      return (bytesPerSecond / 1024).toFixed(1) + ' KiB/s';
    }
    return Math.round(bytesPerSecond) + ' B/s';
  }

  function tileFor(port) {
    let tile = byPort.get(port);
    if (!tile) {
      const root = element('section', 'tile', tiles);
      root.dataset.port = port;
      const head = element('div', 'head', root);
      tile = {
        root: root,
        port: element('span', 'port', head),
        serial: element('span', 'serial', head),
        stage: element('div', 'stage', root),
        fill: element('div', 'fill', element('div', 'bar', root)),
      };
      const figures = element('div', 'figures', root);
      tile.percent = element('span', 'percent', figures);
      tile.rate = element('span', 'rate', figures);
      tile.elapsed = element('span', 'elapsed', figures);
      tile.attempt = element('div', 'attempt', root);
      tile.counts = element('div', 'counts', root);
      tile.result = element('div', 'result', root);
      tile.warning = element('div', 'warning', root);
      tile.reason = element('div', 'reason', root);
      byPort.set(port, tile);
    }
    return tile;
  }

  function drawTile(board, repeat) {
    const tile = tileFor(board.port);
    tile.root.dataset.state = board.state;
    tile.root.dataset.warned = board.warning ? 'yes' : 'no';
    setText(tile.port, board.port);
    setText(tile.serial, board.adapterSerial);
    setText(tile.stage, board.stage);
    tile.fill.style.width = board.percent + '%';
    setText(tile.percent, board.percent + '%');
    setText(tile.rate, rate(board.bytesPerSecond));
    setText(tile.elapsed, board.elapsedSeconds.toFixed(1) + ' s');
    setText(tile.attempt, board.maxAttempts > 1 && board.attempt > 0
      ? 'attempt ' + board.attempt + ' of ' + board.maxAttempts : '');
    setText(tile.counts, repeat
      ? board.boards + ' boards, ' + board.succeeded + ' ok, ' + board.failed + ' failed' : '');
    const result = board.result || (repeat ? board.lastResult && 'last: ' + board.lastResult : '');
    setText(tile.result, result);
    setText(tile.warning, board.warning ? 'warning: ' + board.warning : '');
    setText(tile.reason, board.result === 'ok' ? '' : board.reason);
  }

  function draw(state) {
    const station = state.station || {};
    finished = Boolean(station.finished);
    setText(document.getElementById('host'), station.host ? 'on ' + station.host : '');
    setText(document.getElementById('operation'), (station.operation || '').replace(/^--/, ''));
    setText(document.getElementById('chip'), station.chipName || '(from burn.config)');
    setText(document.getElementById('package'), station.package || '(from burn.config)');
    setText(document.getElementById('sha256'), station.packageSha256);
    setText(document.getElementById('started'), station.startedUtc);
    const totals = state.totals || {};
    setText(document.getElementById('running'), totals.running || 0);
    setText(document.getElementById('succeeded'), totals.succeeded || 0);
    setText(document.getElementById('warned'), totals.warned || 0);
    setText(document.getElementById('failed'), totals.failed || 0);
    (state.boards || []).forEach(function (board) { drawTile(board, Boolean(station.repeat)); });
    if (finished) {
      showConnection('ended', 'run ended');
    }
  }

  function showConnection(state, text) {
    const connection = document.getElementById('connection');
    connection.dataset.state = state;
    setText(connection, text);
  }

  function listen() {
    const source = new EventSource('/api/events');
    source.addEventListener('state', function (event) {
      draw(JSON.parse(event.data));
      if (finished) {
        source.close();
      } else {
        showConnection('live', 'live');
      }
    });
    source.onerror = function () {
      if (finished) {
        source.close();
      } else {
        showConnection('reconnecting', 'reconnecting');
      }
    };
  }

  fetch('/api/state').then(function (response) { return response.json(); }).then(function (state) {
    if (state.boards) {
      draw(state);
    }
  }).catch(function () {});
  listen();
}());
