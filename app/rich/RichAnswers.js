// Decorates the bubbles of the chat page after they are inserted: code in colour,
// formulas typeset, diagrams drawn. The message HTML stays as it came; only the shown page changes.
// Bubbles out of view wait until they come near it, so a long chat opens as fast as a
// short one. Nothing here reaches the network or runs what an answer holds: KaTeX runs
// with trust off and size limits, highlighting writes escaped text only.
(function () {
  'use strict';
  var container = document.getElementById('chat-container');
  if (!container || typeof window.tarvokRich === 'object') return;

  var MATH_OPTIONS = { throwOnError: true, trust: false, strict: 'ignore', maxSize: 40, maxExpand: 500, output: 'html' };
  // Guessing among every known language is slow and often wrong; these are what answers hold.
  var GUESS = ['cpp', 'c', 'cs', 'java', 'javascript', 'typescript', 'python', 'bash', 'shell', 'powershell', 'json',
               'xml', 'css', 'sql', 'go', 'rust', 'kotlin', 'php', 'ruby', 'swift', 'yaml', 'ini', 'diff', 'makefile',
               'cmake', 'lua', 'dos', 'delphi'];
  var GUESS_LIMIT = 20000;  // characters; a longer block without a language stays plain
  var haveHljs = typeof hljs === 'object' && hljs !== null;
  var haveKatex = typeof katex === 'object' && katex !== null;
  if (haveHljs) GUESS = GUESS.filter(function (l) { return !!hljs.getLanguage(l); });

  // What was decorated already; kept beside the page, so that a block left plain is left exactly as it came.
  var done = new WeakSet();

  // Diagrams: the library is big, so it is loaded the first time an answer holds one. It
  // runs at its strict level: labels are sanitised, and click handlers and links are dropped.
  var diagramLibrary = null, diagramCount = 0, diagramsPending = 0;
  function diagrams() {
    if (!diagramLibrary) diagramLibrary = new Promise(function (resolve, reject) {
      var script = document.createElement('script');
      script.src = 'tarvok-lib:mermaid.js';
      script.onload = function () {
        if (typeof mermaid !== 'object' || !mermaid) { reject(new Error('no diagram library')); return; }
        mermaid.initialize({ startOnLoad: false, securityLevel: 'strict', suppressErrorRendering: true,
                             theme: 'default', maxTextSize: 50000, maxEdges: 500 });
        resolve(mermaid);
      };
      script.onerror = function () { reject(new Error('no diagram library')); };
      document.head.appendChild(script);
    });
    return diagramLibrary;
  }

  // The diagram goes above its code block, which folds away under "Исходный текст диаграммы"
  // with its buttons; a diagram that does not parse leaves the code block as it was.
  function drawDiagram(code) {
    var box = code.closest('.code-block-container');
    if (!box) return;
    var id = 'tvk-diagram-' + (++diagramCount);
    ++diagramsPending;
    diagrams().then(function (m) {
      return m.render(id, code.textContent);
    }).then(function (out) {
      if (!box.isConnected || !out || typeof out.svg !== 'string') return;
      var figure = document.createElement('div');
      figure.className = 'diagram';
      figure.innerHTML = out.svg;
      var fold = document.createElement('details');
      fold.className = 'diagram-source';
      var title = document.createElement('summary');
      title.textContent = 'Исходный текст диаграммы';
      box.parentNode.insertBefore(figure, box);
      box.parentNode.insertBefore(fold, box);
      fold.appendChild(title);
      fold.appendChild(box);
    }).catch(function () {
      var left = document.getElementById('d' + id);
      if (left) left.remove();
    }).then(function () { --diagramsPending; });
  }

  function colourCode(code) {
    if (done.has(code)) return;
    done.add(code);
    var m = /(?:^|\s)language-(\S+)/.exec(code.className || '');
    var lang = m ? m[1].toLowerCase() : '';
    if (lang === 'mermaid') { drawDiagram(code); return; }
    if (!haveHljs) return;
    var text = code.textContent;
    var result = null;
    try {
      if (lang && hljs.getLanguage(lang)) result = hljs.highlight(lang, text, true);
      else if (!lang && text.length <= GUESS_LIMIT) result = hljs.highlightAuto(text, GUESS);
    } catch (e) {
      result = null;
    }
    if (!result || typeof result.value !== 'string' || result.relevance === 0 && !lang) return;
    // The library escapes the code it wraps in its spans: the text shown and copied is the same.
    code.innerHTML = result.value;
    code.classList.add('hljs');
  }

  function typeset(span) {
    if (done.has(span)) return;
    done.add(span);
    var source = span.textContent;
    var display = span.classList.contains('display');
    var open = display ? '\\[' : '\\(', close = display ? '\\]' : '\\)';
    if (!haveKatex || source.indexOf(open) !== 0 || source.lastIndexOf(close) !== source.length - 2) return;
    var tex = source.slice(2, source.length - 2);
    try {
      var options = {};
      for (var k in MATH_OPTIONS) options[k] = MATH_OPTIONS[k];
      options.displayMode = display;
      katex.render(tex, span, options);
    } catch (e) {
      // A formula that does not parse shows as it was written, marked, with the reason on hover.
      span.textContent = source;
      span.classList.add('math-error');
      span.title = String(e && e.message || e);
    }
  }

  function decorate(root) {
    if (root.nodeType !== 1) return;
    var spans = root.querySelectorAll('span.math');
    for (var i = 0; i < spans.length; ++i) typeset(spans[i]);
    var codes = root.querySelectorAll('pre > code');
    for (var j = 0; j < codes.length; ++j) colourCode(codes[j]);
  }

  function needsWork(el) {
    return el.nodeType === 1 && !!el.querySelector('span.math, pre > code');
  }

  var waiting = new Set();
  var seen = typeof IntersectionObserver === 'function' ? new IntersectionObserver(function (entries) {
    entries.forEach(function (e) {
      if (!e.isIntersecting) return;
      seen.unobserve(e.target);
      waiting.delete(e.target);
      decorate(e.target);
    });
  }, { rootMargin: '600px 0px' }) : null;

  function watch(el) {
    if (!needsWork(el)) return;
    if (!seen) { decorate(el); return; }
    waiting.add(el);
    // A hidden page (a minimised window, a page without a view) draws no frames, so its
    // bubbles wait until it is shown and they come into view.
    seen.observe(el);
  }

  new MutationObserver(function (records) {
    records.forEach(function (r) {
      r.removedNodes.forEach(function (n) {
        if (waiting.delete(n)) seen.unobserve(n);
      });
      // A bubble replaced in place (an answer growing as it streams) is where the reader is
      // looking: it is decorated before it is drawn, so it never flickers back to plain text.
      var replaced = r.removedNodes.length > 0;
      r.addedNodes.forEach(function (n) {
        if (replaced) decorate(n);
        else watch(n);
      });
    });
  }).observe(container, { childList: true });

  window.tarvokRich = {
    // Every bubble now, in view or not (the export and a print want the whole chat).
    decorateAll: function () {
      waiting.forEach(function (el) { seen.unobserve(el); });
      waiting.clear();
      decorate(container);
      return true;
    },
    // Bubbles at least partly in the window that still wait for decoration.
    visibleWaiting: function () {
      var n = 0, h = window.innerHeight;
      waiting.forEach(function (el) {
        var r = el.getBoundingClientRect();
        if (r.bottom > 0 && r.top < h) ++n;
      });
      return n;
    },
    waitingCount: function () { return waiting.size; },
    // Diagrams still being drawn (the library works asynchronously).
    diagramsPending: function () { return diagramsPending; }
  };
})();
