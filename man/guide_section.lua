-- Pandoc filter that turns a guide in docs/ into the body of one section of
-- a manual page (written with `--to=man`, not standalone):
--   * the guide's title and the introduction before its first "##" heading
--     are left out (the page names the section itself), so its "##"
--     sections become the page's subsections;
--   * sections about Windows are left out: the pages are installed only on
--     Linux;
--   * links keep their text only: their targets are places in the guides,
--     which the page's reader does not have;
--   * inline code is set in bold, as names and commands are in manual
--     pages (the writer's own font for it is defined only in a standalone
--     page);
--   * tables become tagged paragraphs, the first column the tag: the pages
--     are read without the tbl preprocessor (help2man writes no line that
--     asks man for it).

local function IsWindowsSection(header)
  return pandoc.utils.stringify(header.content):find("Windows") ~= nil
end

local function TaggedParagraphs(tbl)
  local simple = pandoc.utils.to_simple_table(tbl)
  local items = pandoc.List()
  for _, row in ipairs(simple.rows) do
    local tag = pandoc.utils.blocks_to_inlines(row[1])
    local text = pandoc.List()
    for column = 2, #row do
      text:extend(row[column])
    end
    items:insert({ tag, { text } })
  end
  return pandoc.DefinitionList(items)
end

function Pandoc(doc)
  local blocks = pandoc.List()
  local started = false
  local skipping = false
  for _, block in ipairs(doc.blocks) do
    if block.t == "Header" and block.level <= 2 then
      started = block.level == 2
      skipping = started and IsWindowsSection(block)
    end
    if started and not skipping then
      blocks:insert(block)
    end
  end
  if #blocks == 0 then
    error("the guide has no \"##\" section to put into the manual page")
  end
  doc.blocks = blocks
  return doc:walk({
    Link = function(link)
      return link.content
    end,
    Code = function(code)
      return pandoc.Strong({ pandoc.Str(code.text) })
    end,
    Table = TaggedParagraphs,
  })
end
