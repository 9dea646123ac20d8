// A click on the toggle of a line folds the blocks that follow it inside
// its element (or the content of a comment or CDATA block), and unfolds
// them on the next click.
document.addEventListener('click', function (event) {
  var toggle = event.target;
  if (!toggle.classList || !toggle.classList.contains('b') || !toggle.parentNode.classList.contains('c'))
    return;
  var fold = toggle.textContent === '-';
  toggle.textContent = fold ? '+' : '-';
  var block = toggle.parentNode.parentNode;
  for (var i = 0; i < block.children.length; ++i) {
    var child = block.children[i];
    if (child !== toggle.parentNode && child.tagName === 'DIV')
      child.style.display = fold ? 'none' : '';
  }
});
