// The bundled examples convert cleanly and pass the PDF readers.
#include <dirent.h>

#include <algorithm>

#include "test_support.h"

TEST(Examples, EveryExampleConverts) {
  std::vector<std::string> names;
  DIR* dir = opendir(KESTRIN_EXAMPLES);
  ASSERT_NE(dir, nullptr);
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".txt") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    std::string pdf = scratch_path(name.substr(0, name.size() - 4) + ".pdf");
    ProcessResult result = run_binary_in(KESTRIN_EXAMPLES, {name, pdf});
    EXPECT_EQ(result.out, success_text()) << name;
    EXPECT_EQ(result.status, 0) << name;
    std::string pages;
    run_shell("pdfinfo '" + pdf + "' | sed -n 's/^Pages: *//p'", &pages);
    check_with_readers(pdf, pages.empty() ? -1 : std::stoi(pages));
  }
}
