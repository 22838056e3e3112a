#pragma once
// The fixed parts of report.html: its head with the style, and the script that fills each
// row view from the JSON beside it and filters it by its search box. Nothing here comes
// from the disk; the script puts values on the page only as text (textContent), so that
// a value can never become markup or code. The page loads nothing: the content security
// policy forbids every fetch, font, image and frame from anywhere.

namespace quillon::recover {

inline constexpr const char* kReportHead = R"html(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="generator" content="quillon-cli recover">
<title>恢复报告 Recovery report</title>
<style>
body { margin: 0; padding: 0 24px 40px; color: #1d1d1f; background: #f6f7f9;
  font: 14px/1.5 "Segoe UI", "Microsoft YaHei", "微软雅黑", "PingFang SC", "Hiragino Sans GB",
  "Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei", "SimSun", "宋体", Arial, sans-serif; }
header { padding: 16px 0 4px; border-bottom: 2px solid #2b6cb0; margin-bottom: 12px; }
h1 { font-size: 22px; margin: 0 0 8px; color: #2b6cb0; }
h2 { font-size: 19px; margin: 28px 0 6px; padding: 4px 8px; background: #2b6cb0; color: #fff; }
h3 { font-size: 16px; margin: 18px 0 4px; }
h4 { font-size: 14px; margin: 12px 0 4px; }
.en { font-weight: normal; color: inherit; opacity: .75; }
dl.facts { display: grid; grid-template-columns: max-content 1fr; gap: 2px 16px; margin: 4px 0 8px; }
dl.facts dt { color: #555; }
dl.facts dd { margin: 0; word-break: break-all; }
.warning { margin: 6px 0; padding: 4px 8px; background: #fff4e5; border-left: 4px solid #dd8800; }
.hint, .note { color: #555; margin: 4px 0; }
.kind { font-weight: normal; color: #a33; }
section.table { background: #fff; border: 1px solid #d8dce2; border-radius: 4px; padding: 4px 12px 10px; margin: 12px 0; }
.columns { margin: 2px 0 6px; }
.column { white-space: nowrap; }
.type { font: 12px Consolas, "DejaVu Sans Mono", monospace; color: #2b6cb0; }
.tools { margin: 4px 0; }
.tools input { width: 280px; padding: 3px 6px; font: inherit; }
.count { color: #555; margin-left: 8px; }
.scroll { max-height: 420px; overflow: auto; border: 1px solid #d8dce2; background: #fff; }
.scroll.short { max-height: 300px; }
table { border-collapse: collapse; }
th, td { padding: 2px 8px; border: 1px solid #e3e6ea; text-align: left; vertical-align: top; }
thead th { position: sticky; top: 0; background: #eef2f7; z-index: 1; }
td { white-space: pre-wrap; overflow-wrap: break-word; }
table.data td { max-width: 40em; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
table.data td:first-child { color: #888; text-align: right; }
tr[hidden] { display: none; }
a { color: #2b6cb0; }
</style>
</head>
<body>
)html";

inline constexpr const char* kReportScript = R"html(<script>
(function () {
  'use strict';
  var views = [];
  Array.prototype.forEach.call(document.querySelectorAll('div.rows'), function (block) {
    var data = block.querySelector('script[type="application/json"]');
    var rows = [];
    try { rows = JSON.parse(data.textContent); } catch (e) { rows = []; }
    var body = block.querySelector('tbody');
    var count = block.querySelector('.count');
    var box = block.querySelector('input[type="search"]');
    var lines = [];
    var texts = [];
    var all = document.createDocumentFragment();
    rows.forEach(function (row, i) {
      var line = document.createElement('tr');
      var number = document.createElement('td');
      number.textContent = String(i + 1);
      line.appendChild(number);
      row.forEach(function (value) {
        var cell = document.createElement('td');
        cell.textContent = value;
        line.appendChild(cell);
      });
      lines.push(line);
      texts.push(row.join('\u0001').toLowerCase());
      all.appendChild(line);
    });
    body.appendChild(all);
    function filter() {
      var wanted = box.value.trim().toLowerCase();
      var shown = 0;
      lines.forEach(function (line, i) {
        var match = wanted === '' || texts[i].indexOf(wanted) >= 0;
        line.hidden = !match;
        if (match) shown++;
      });
      count.textContent = wanted === ''
          ? lines.length + ' 行 rows'
          : '显示 ' + shown + ' / ' + lines.length + ' 行 rows shown';
    }
    box.addEventListener('input', filter);
    views.push({ box: box, filter: filter });
    filter();
  });
  // report.html#search=TEXT opens with every view filtered by TEXT.
  var asked = /^#search=(.*)$/.exec(location.hash);
  if (asked) {
    var wanted = '';
    try { wanted = decodeURIComponent(asked[1]); } catch (e) { wanted = asked[1]; }
    views.forEach(function (view) { view.box.value = wanted; view.filter(); });
  }
})();
</script>
)html";

}  // namespace quillon::recover
