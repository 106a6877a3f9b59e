// Corvane Web Mail: small enhancements of the pages. Every page works
// without this file; it only adds conveniences:
//   - [data-select-all] check boxes tick every box named by their value;
//   - a message table with data-sort marks the column it is sorted by and
//     makes that column's link sort the other way;
//   - buttons and links with data-confirm ask first;
//   - elements with data-autosubmit submit their form when changed;
//   - navigation links (data-nav) mark the one last followed;
//   - a message list's hidden folder list (data-folder-list) replaces the
//     folder navigation (data-folder-nav) of the page around its frame;
//   - a page with data-list-refresh (seconds) reloads the list by itself;
//   - check boxes with data-checked="1" start ticked, and selects with
//     data-selected start on that option (tags write "1" and values, not
//     HTML attributes);
//   - a form with data-upload-progress sends its file with a progress bar
//     and shows the page the server answers with.
// Pages keep no inline script (the content security policy forbids it);
// they load this file with <script src defer>.
(function () {
  'use strict';

  function each(selector, fn, root) {
    Array.prototype.forEach.call((root || document).querySelectorAll(selector), fn);
  }

  each('input[data-select-all]', function (box) {
    var name = box.getAttribute('data-select-all');
    var form = box.form || document;
    box.addEventListener('change', function () {
      each('input[type="checkbox"][name="' + name + '"]', function (other) {
        other.checked = box.checked;
      }, form);
    });
  });

  each('table[data-sort]', function (table) {
    var current = (table.getAttribute('data-sort') || '').toLowerCase();
    var reverse = current.indexOf('rev') === 0;
    var key = reverse ? current.slice(3) : current;
    each('th[data-key]', function (th) {
      var own = th.getAttribute('data-key').toLowerCase();
      var link = th.querySelector('a');
      if (own !== key) {
        th.setAttribute('aria-sort', 'none');
        return;
      }
      th.setAttribute('aria-sort', reverse ? 'descending' : 'ascending');
      if (link) {
        var next = reverse ? th.getAttribute('data-key') : 'Rev' + th.getAttribute('data-key');
        link.href = link.href.replace(/([?&]Sort=)[^&]*/, '$1' + next);
      }
    }, table);
  });

  each('[data-confirm]', function (el) {
    el.addEventListener('click', function (event) {
      if (!window.confirm(el.getAttribute('data-confirm'))) event.preventDefault();
    });
  });

  each('[data-autosubmit]', function (el) {
    el.addEventListener('change', function () {
      if (el.form) el.form.requestSubmit ? el.form.requestSubmit() : el.form.submit();
    });
  });

  // Delegated, so links the folder list brings later are marked too.
  document.addEventListener('click', function (event) {
    var link = event.target.closest && event.target.closest('a[data-nav]');
    if (!link) return;
    each('a[data-nav][aria-current]', function (other) { other.removeAttribute('aria-current'); });
    link.setAttribute('aria-current', 'page');
  });

  // A message list carries the folders with their unread counts; the
  // navigation of the page around it takes them over, so folders made,
  // renamed or deleted and messages read show there without a reload.
  var fresh = document.querySelector('ul[data-folder-list]');
  if (fresh && window.parent !== window) {
    try {
      var nav = window.parent.document.querySelector('ul[data-folder-nav]');
      if (nav) {
        var current = nav.querySelector('a[aria-current]');
        var wanted = current ? current.getAttribute('href') : null;
        nav.replaceChildren.apply(nav, Array.prototype.map.call(fresh.children, function (item) {
          return window.parent.document.importNode(item, true);
        }));
        each('a[data-nav]', function (link) {
          if (link.getAttribute('href') === wanted) link.setAttribute('aria-current', 'page');
        }, nav);
      }
    } catch (e) {
      // A page around it from elsewhere keeps its own navigation.
    }
  }

  each('input[type="checkbox"][data-checked]', function (box) {
    if (box.getAttribute('data-checked') === '1') box.checked = true;
  });

  each('select[data-selected]', function (select) {
    var wanted = (select.getAttribute('data-selected') || '').toLowerCase();
    Array.prototype.forEach.call(select.options, function (option) {
      if (option.value.toLowerCase() === wanted) option.selected = true;
    });
  });

  each('form[data-upload-progress]', function (form) {
    var bar = form.querySelector('progress');
    if (!bar || !window.XMLHttpRequest || !window.FormData) return;
    form.addEventListener('submit', function (event) {
      var data = new FormData(form);
      if (event.submitter && event.submitter.name) data.append(event.submitter.name, event.submitter.value);
      var request = new XMLHttpRequest();
      request.open('POST', form.action);
      request.upload.addEventListener('progress', function (e) {
        if (e.lengthComputable) bar.value = Math.round(e.loaded * 100 / e.total);
      });
      request.addEventListener('load', function () {
        // The answer is the next page, as after an ordinary post.
        document.open();
        document.write(request.responseText);
        document.close();
      });
      request.addEventListener('error', function () { form.submit(); });
      bar.hidden = false;
      bar.value = 0;
      Array.prototype.forEach.call(form.querySelectorAll('button'), function (b) { b.disabled = true; });
      request.send(data);
      event.preventDefault();
    });
  });

  var refresh = document.body && parseInt(document.body.getAttribute('data-list-refresh') || '0', 10);
  if (refresh > 0) {
    // Reload only while the reader is not in the middle of choosing messages.
    window.setTimeout(function reload() {
      if (document.querySelector('input[type="checkbox"]:checked') || document.hidden) {
        window.setTimeout(reload, 30000);
        return;
      }
      var target = document.body.getAttribute('data-refresh-url');
      if (target) window.location.replace(target);
    }, refresh * 1000);
  }
}());
