// Compiling an open document as the command line would, from another
// working directory: its diagnostics come from a run that writes nothing
// yet stops where `kestrin doc.kst doc.pdf` run in the document's folder
// stops (pictures beside it, a picture that is the PDF), and its export
// writes the bytes that command writes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "lsp.h"
#include "test_support.h"

namespace {

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* entry = readdir(d))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

Document open_document(const std::string& path, const std::string& text) {
  Document doc;
  doc.path = path;
  doc.uri = uri_of_path(path);
  doc.text = text;
  doc.reindex();
  return doc;
}

}  // namespace

TEST(DocumentCheck, StopsWhereTheCommandLineStopsAndWritesNothing) {
  const struct {
    const char* text;
    bool pdf_exists;
    int code;  // 0: no stop
  } cases[] = {
      {"<image 1 photo.jpg>Text<pict+ 1 0 0 0 0>\n", false, 0},
      {"<image 1 missing.jpg>Text\n", false, 79},
      {"<image 1 doc.pdf>Text\n", true, 71},   // the file the output would replace
      {"<image 1 doc.pdf>Text\n", false, 71},  // by its name, before it exists
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string dir = scratch_dir();
    write_file(dir + "/photo.jpg", read_file(test_data("jpeg/small-200x100.jpg")));
    write_file(dir + "/doc.kst", c.text);
    if (c.pdf_exists) write_file(dir + "/doc.pdf", "an earlier PDF");
    std::vector<std::string> before = names_in(dir);
    nlohmann::json diagnostics = check_document(open_document(dir + "/doc.kst", c.text), false);
    EXPECT_EQ(names_in(dir), before);
    if (c.pdf_exists) {
      EXPECT_EQ(read_file(dir + "/doc.pdf"), "an earlier PDF");
    }
    ProcessResult command_line = run_binary_in(dir, {"doc.kst", "doc.pdf"});
    if (c.code == 0) {
      EXPECT_EQ(diagnostics, nlohmann::json::array());
      EXPECT_EQ(command_line.out, success_text());
    } else {
      ASSERT_EQ(diagnostics.size(), 1u) << diagnostics.dump();
      EXPECT_EQ(diagnostics[0]["code"], c.code);
      EXPECT_NE(command_line.out.find("(" + std::to_string(c.code) + ")"), std::string::npos)
          << command_line.out;
    }
  }
}

TEST(DocumentCheck, ExportWritesWhatTheCommandLineWrites) {
  const std::string dir = scratch_dir();
  const std::string text = "<image 1 photo.jpg outline 1 [Photo]>Text<pict+ 1 0 0 0 0>\n";
  write_file(dir + "/photo.jpg", read_file(test_data("jpeg/small-200x100.jpg")));
  write_file(dir + "/doc.kst", text);
  ASSERT_EQ(run_binary_in(dir, {"-z", "doc.kst", "expected.pdf"}).out, success_text());
  nlohmann::json result = export_document(open_document(dir + "/doc.kst", text), "", true);
  EXPECT_EQ(result["status"], 0);
  EXPECT_EQ(result["console"], success_text());
  EXPECT_EQ(result["output"], dir + "/doc.pdf");
  EXPECT_EQ(read_file(dir + "/doc.pdf"), read_file(dir + "/expected.pdf"));
  // The document's own file as the output is refused, as on the command line.
  result = export_document(open_document(dir + "/doc.kst", text), "doc.kst", false);
  EXPECT_EQ(result["status"], 1);
  EXPECT_NE(result["console"].get<std::string>().find("(68)  output file is also an input file"),
            std::string::npos)
      << result.dump();
  EXPECT_EQ(read_file(dir + "/doc.kst"), text);
}

TEST(DocumentCheck, ReadsNoPipeNorFifo) {
  // A FIFO with no writer would hold the server forever; a pipe it names
  // (its own standard input among them) would lose the client's messages.
  const std::string dir = scratch_dir();
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string pipe_name = "/dev/fd/" + std::to_string(ends[0]);
  const struct {
    std::string text;
    int code;
  } cases[] = {
      {"<image 1 fifo>Text\n", 79},
      {"<jpg+ 1 fifo>Text\n", 49},
      {"<font 15 fifo>Text\n", 103},
      {"<sound 1 8000 1 8 Raw fifo>Text\n", 49},
      {"Text\n<verbatim fifo>\n", 130},
      {"<image 1 " + pipe_name + ">Text\n", 79},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    nlohmann::json diagnostics = check_document(open_document(dir + "/doc.kst", c.text), false);
    ASSERT_EQ(diagnostics.size(), 1u) << diagnostics.dump();
    EXPECT_EQ(diagnostics[0]["code"], c.code);
  }
  close(ends[0]);
  close(ends[1]);
}
