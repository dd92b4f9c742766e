// The language server driven by Neovim's own client (headless, no plugins,
// the plain configuration the README gives: vim.lsp.start_client and
// buf_attach_client), with Neovim's incremental changes in UTF-16 units.
#include "test_support.h"

namespace {

// The Lua script: each step writes one line of what the client saw.
const char neovim_script[] = R"lua(
local out = {}
local function log(text) table.insert(out, text) end
local published = {}
vim.cmd('edit ' .. vim.env.DOC)
local buf = vim.api.nvim_get_current_buf()
local id = vim.lsp.start_client({
  name = 'kestrin',
  cmd = { vim.env.KESTRIN, '--lsp' },
  root_dir = vim.env.DIR,
  init_options = { debounce = 10 },
  handlers = {
    ['textDocument/publishDiagnostics'] = function(_, result) table.insert(published, result) end,
  },
})
vim.lsp.buf_attach_client(buf, id)
local client = vim.lsp.get_client_by_id(id)
local function diagnostics(count)
  vim.wait(10000, function() return #published >= count end, 10)
  local result = published[count]
  if not result then return 'none' end
  local texts = {}
  for _, d in ipairs(result.diagnostics) do
    table.insert(texts, d.range.start.line .. ':' .. d.range.start.character .. ' ' .. d.severity ..
                 ' ' .. tostring(d.code) .. ' ' .. d.message)
  end
  return #result.diagnostics .. (#texts > 0 and ' ' .. table.concat(texts, '; ') or '')
end
local function request(method, line, character)
  local params = { textDocument = { uri = vim.uri_from_bufnr(buf) } }
  if line then params.position = { line = line, character = character } end
  local answer = client.request_sync(method, params, 5000, buf)
  return answer and answer.result
end

log('open ' .. diagnostics(1))
vim.api.nvim_buf_set_lines(buf, 2, 3, false, { '<rotate 0>' })
log('mended ' .. diagnostics(2))
vim.api.nvim_buf_set_text(buf, 0, 12, 0, 12, { 'é' })
vim.api.nvim_buf_set_text(buf, 1, 0, 1, 0, { '\t' })
log('tab ' .. diagnostics(3))
log('hover ' .. request('textDocument/hover', 0, 25).contents.value:match('^[^\n]*'))
local items = request('textDocument/completion', 1, 2).items
local labels = {}
for _, item in ipairs(items) do if item.label:match('^pict') then table.insert(labels, item.label) end end
log('completion ' .. table.concat(labels, ' '))
local symbols = request('textDocument/documentSymbol')
log('symbols ' .. symbols[1].name .. ' > ' .. symbols[1].children[1].name)
local definition = request('textDocument/definition', 1, 8)
log('definition ' .. definition.range.start.line .. ':' .. definition.range.start.character)
client.stop()
vim.wait(5000, function() return client.is_stopped() end, 10)
log('stopped ' .. tostring(client.is_stopped()))
vim.fn.writefile(out, vim.env.REPORT)
vim.cmd('qa!')
)lua";

}  // namespace

TEST(LanguageServer, DrivenByNeovim) {
  if (run_shell("command -v nvim", nullptr) != 0) {
    if (std::getenv("KESTRIN_REQUIRE_READERS")) FAIL() << "nvim is required";
    GTEST_SKIP() << "nvim not installed";
  }
  const std::string dir = scratch_dir();
  write_file(dir + "/photo.jpg", read_file(test_data("jpeg/small-200x100.jpg")));
  write_file(dir + "/doc.kst",
             "<outline 1 [Pictures] image 1 photo.jpg>A photo:\n"
             "<pict+ 1 0 0 0 0 outline 2 [The photo]>\n"
             "<nonsense>\n");
  write_file(dir + "/test.lua", neovim_script);
  std::string out;
  ASSERT_EQ(run_shell("cd '" + dir + "' && DIR='" + dir + "' DOC='" + dir + "/doc.kst' REPORT='" +
                          dir + "/report' KESTRIN='" + KESTRIN_BINARY + "' HOME='" + dir +
                          "' timeout 60 nvim --headless -u NONE -i NONE -n -c 'luafile test.lua'",
                      &out),
            0)
      << out;
  EXPECT_EQ(read_file(dir + "/report"),
            "open 1 2:1 1 44 unknown ctrl command: nonsense\n"
            "mended 0\n"
            "tab 1 1:0 2 control character a tab in page text shows as nothing; expand it to "
            "blanks (or use <tabs 8>)\n"
            "hover **image** *picture file*\n"
            "completion pict pict+\n"
            "symbols éPictures > The photo\n"
            "definition 0:23\n"
            "stopped true\n");
}
