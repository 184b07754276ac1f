'use strict';
// The live page: the first event of the stream is the whole status, the next ones what changed.
(function () {
  const NS = 'http://www.w3.org/2000/svg';
  // The segments each character lights, as a seven-segment display draws it.
  const SEGMENTS = {
    '0': 'abcdef', '1': 'bc', '2': 'abdeg', '3': 'abcdg', '4': 'bcfg', '5': 'acdfg',
    '6': 'acdefg', '7': 'abc', '8': 'abcdefg', '9': 'abcdfg', '-': 'g', ' ': ''
  };
  const RECTS = {
    a: [2, 0, 7, 2], b: [9, 1, 2, 8], c: [9, 11, 2, 8], d: [2, 18, 7, 2],
    e: [0, 11, 2, 8], f: [0, 1, 2, 8], g: [2, 9, 7, 2]
  };
  const PITCH = 14;
  const stations = [];
  const rows = [];
  let lines = [];
  // The digits are drawn for the rows in sight only: a gateway of thousands of meters stays
  // light in the browser.
  const observer = 'IntersectionObserver' in window ? new IntersectionObserver(function (seen) {
    for (const entry of seen) {
      const index = Number(entry.target.dataset.index);
      rows[index].visible = entry.isIntersecting;
      drawFace(index);
    }
  }, { rootMargin: '300px' }) : null;

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // The meter's face: what it shows, right-aligned in the model's digits; a point lights the
  // segment of the digit before it.
  function face(shows, width) {
    const cells = [];
    for (const ch of shows || '') {
      if (ch === '.' && cells.length) cells[cells.length - 1].dot = true;
      else cells.push({ ch: ch, dot: false });
    }
    while (cells.length < width) cells.unshift({ ch: ' ', dot: false });
    const svg = document.createElementNS(NS, 'svg');
    svg.setAttribute('viewBox', '0 0 ' + (cells.length * PITCH) + ' 20');
    svg.setAttribute('role', 'img');
    svg.setAttribute('aria-label', shows || 'blank');
    svg.setAttribute('data-shows', shows || '');
    cells.forEach(function (cell, i) {
      const lit = SEGMENTS[cell.ch] !== undefined ? SEGMENTS[cell.ch] : 'adg';
      for (const name of 'abcdefg') {
        const r = RECTS[name];
        const rect = document.createElementNS(NS, 'rect');
        rect.setAttribute('x', i * PITCH + r[0]);
        rect.setAttribute('y', r[1]);
        rect.setAttribute('width', r[2]);
        rect.setAttribute('height', r[3]);
        rect.setAttribute('rx', 0.8);
        rect.setAttribute('class', lit.indexOf(name) >= 0 ? 'seg on' : 'seg');
        svg.appendChild(rect);
      }
      const dot = document.createElementNS(NS, 'circle');
      dot.setAttribute('cx', i * PITCH + 12.2);
      dot.setAttribute('cy', 19);
      dot.setAttribute('r', 1.1);
      dot.setAttribute('class', cell.dot ? 'seg on' : 'seg');
      svg.appendChild(dot);
    });
    return svg;
  }

  function value(s) {
    return s.value === null ? '' : String(s.value);
  }

  function makeRow(index) {
    const tr = el('tr');
    tr.id = 'station-' + index;
    tr.dataset.index = index;
    const cells = {
      name: el('td', 'name'), model: el('td'), tag: el('td'), value: el('td', 'num'),
      face: el('td', 'face-cell'), sent: el('td', 'num'), failed: el('td', 'num'),
      state: el('td', 'state')
    };
    cells.tag.dataset.label = 'tag';
    cells.value.dataset.label = 'value';
    cells.sent.dataset.label = 'sent';
    cells.failed.dataset.label = 'failed';
    cells.model.dataset.label = 'meter';
    for (const k of Object.keys(cells)) tr.appendChild(cells[k]);
    rows[index] = { tr: tr, cells: cells, shows: null, visible: !observer };
    if (observer) observer.observe(tr);
    return tr;
  }

  function fillRow(index) {
    const s = stations[index], row = rows[index];
    if (!s || !row) return;
    const c = row.cells;
    row.tr.className = s.state;
    c.name.textContent = s.station;
    c.name.appendChild(el('div', 'small', 'station ' + s.number));
    c.model.textContent = s.model;
    c.tag.textContent = s.tag;
    c.value.textContent = value(s);
    c.sent.textContent = s.sent;
    c.failed.textContent = s.failed;
    c.state.textContent = s.state;
    drawFace(index);
  }

  function drawFace(index) {
    const s = stations[index], row = rows[index];
    if (!s || !row || !row.visible || row.shows === s.shows) return;
    const box = el('span', 'face');
    box.appendChild(face(s.shows, s.width));
    row.cells.face.replaceChildren(box);
    row.shows = s.shows;
  }

  function counts(line) {
    const n = { ok: 0, failing: 0, lost: 0, disabled: 0 };
    for (let i = line.first; i < line.first + line.count; i++) {
      if (stations[i]) n[stations[i].state]++;
    }
    return n;
  }

  function lineHead(line, head) {
    const n = counts(line);
    head.replaceChildren(
      el('span', 'title', line.line + (line.port ? ' (' + line.port + ')' : '')),
      el('span', '', line.state),
      el('span', '', line.frames_per_second + ' frames/s'),
      el('span', '', line.sent + ' sent, ' + line.failed + ' failed'),
      el('span', '', n.ok + ' ok' + (n.failing ? ', ' + n.failing + ' failing' : '') +
        (n.lost ? ', ' + n.lost + ' lost' : '') + (n.disabled ? ', ' + n.disabled + ' disabled' : '')));
    if (line.problem) head.appendChild(el('span', '', line.problem));
    head.parentNode.className = line.state === 'running' ? 'line' : 'line down';
  }

  function attention() {
    let failing = 0, lost = 0;
    for (const s of stations) {
      if (s && s.state === 'failing') failing++;
      if (s && s.state === 'lost') lost++;
    }
    const box = document.getElementById('attention');
    box.hidden = !failing && !lost;
    box.textContent = (lost ? lost + ' lost' : '') + (lost && failing ? ', ' : '') +
      (failing ? failing + ' failing' : '') + ': marked below';
  }

  function showInputs(inputs) {
    const box = document.getElementById('inputs');
    box.replaceChildren();
    for (const input of inputs) {
      const chip = el('span', input.ok ? 'input' : 'input bad');
      chip.textContent = input.input + ': ' + (input.ok ? '' : 'not available: ') + input.detail +
        ' (' + input.values + ' values' + (input.refused ? ', ' + input.refused + ' refused' : '') + ')';
      box.appendChild(chip);
    }
  }

  function common(doc) {
    document.getElementById('elapsed').textContent = 'running ' + Math.floor(doc.elapsed) + ' s';
    showInputs(doc.inputs);
  }

  function full(doc) {
    if (observer) observer.disconnect();
    stations.length = 0;
    rows.length = 0;
    lines = [];
    const main = document.getElementById('lines');
    main.replaceChildren();
    let first = 0;
    for (const line of doc.lines) {
      const section = el('section', 'line');
      const head = el('div', 'head');
      section.appendChild(head);
      const table = el('table');
      const thead = el('thead');
      const tr = el('tr');
      for (const t of ['Station', 'Meter', 'Tag', 'Value', 'Display', 'Sent', 'Failed', 'State']) {
        tr.appendChild(el('th', '', t));
      }
      thead.appendChild(tr);
      table.appendChild(thead);
      const tbody = el('tbody');
      line.stations.forEach(function (s, i) {
        stations[first + i] = s;
        tbody.appendChild(makeRow(first + i));
        fillRow(first + i);
      });
      table.appendChild(tbody);
      section.appendChild(table);
      main.appendChild(section);
      const info = Object.assign({}, line, { first: first, count: line.stations.length, head: head });
      delete info.stations;
      lines.push(info);
      lineHead(info, head);
      first += line.stations.length;
    }
    common(doc);
    attention();
  }

  function delta(doc) {
    for (const key of Object.keys(doc.stations)) {
      stations[Number(key)] = doc.stations[key];
      fillRow(Number(key));
    }
    doc.lines.forEach(function (line, i) {
      if (!lines[i]) return;
      Object.assign(lines[i], line);
      lineHead(lines[i], lines[i].head);
    });
    common(doc);
    attention();
  }

  function logLine(e) {
    const li = el('li', 'event-' + e.level);
    const time = el('time', '', new Date(e.time).toLocaleTimeString());
    time.dateTime = e.time;
    li.append(time, el('span', '', e.text));
    return li;
  }

  function addEvents(list, fresh) {
    const ol = document.getElementById('events');
    if (fresh) ol.replaceChildren();
    // `list` is oldest first: each goes on top, so the newest ends first.
    for (const e of list) ol.insertBefore(logLine(e), ol.firstChild);
    while (ol.childNodes.length > 200) ol.removeChild(ol.lastChild);
  }

  function connect() {
    const conn = document.getElementById('conn');
    const source = new EventSource('/api/stream');
    source.addEventListener('status', function (m) { full(JSON.parse(m.data)); });
    source.addEventListener('delta', function (m) { delta(JSON.parse(m.data)); });
    source.addEventListener('events', function (m) {
      addEvents(JSON.parse(m.data).events.slice().reverse(), true);
    });
    source.addEventListener('log', function (m) { addEvents([JSON.parse(m.data)], false); });
    source.onopen = function () { conn.textContent = 'live'; conn.className = 'conn up'; };
    source.onerror = function () {
      conn.textContent = 'reconnecting';
      conn.className = 'conn down';
      // A refused stream (the server is full, or gone) is not retried by the browser itself.
      if (source.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
    };
  }
  connect();
})();
