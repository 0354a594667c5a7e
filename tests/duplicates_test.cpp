#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <vector>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

struct Case {
  // "folder/name size", "+n" adds n to the write time, "#k" is the kind (junk is marked),
  // "*" puts it in a kept folder.
  std::string records;
  std::string progress;  // the indices the progress lines show
  int found;
  std::string marks;  // table order: folder/name, "C" when marked, ">" and the kept copy
};

TEST(Duplicates, MarksEveryCopyOfTheFirstCandidateOfItsNameSizeAndTime) {
  std::vector<Case> cases = {
      {"A/x.txt 10, B/x.txt 10, C/x.txt 10, A/y.txt 10, B/y.txt 10, C/z.txt 10", "0 3 5", 3,
       "A/x.txt, B/x.txt C>0, C/x.txt C>0, A/y.txt, B/y.txt C>3, C/z.txt, "},
      {"A/t.txt 10, B/t.txt 10+1, A/s.txt 10, B/s.txt 4294967306, A/Foto.jpg 10, B/foto.jpg 10, "
       "A/w.txt 10, B/w.txt 10+4294967296",
       "0 1 2 3 4 5 6 7", 0,
       "A/Foto.jpg, B/foto.jpg, A/s.txt, B/s.txt, A/t.txt, B/t.txt, A/w.txt, B/w.txt, "},
      // A copy is found whatever stands between it and its kept copy: another size or time,
      // a companion file or junk, which can be copies but are never kept.
      {"A/x.txt 10, B/x.txt 99, C/x.txt 10", "0 1", 1, "A/x.txt, B/x.txt, C/x.txt C>0, "},
      {"A/x.txt 10, B/x.txt 10+1, C/x.txt 30, D/x.txt 10, E/x.txt 10+1, F/x.txt 30, G/x.txt 10",
       "0 1 2", 4,
       "A/x.txt, B/x.txt, C/x.txt, D/x.txt C>0, E/x.txt C>1, F/x.txt C>2, G/x.txt C>0, "},
      {"A/x.gif 10#2, B/x.gif 20, C/x.gif 10, D/x.gif 20#2, E/x.gif 10#3, F/x.gif 20, G/x.gif 10",
       "0 1 2", 4,
       "A/x.gif, B/x.gif, C/x.gif, D/x.gif C>1, E/x.gif C>2, F/x.gif C>1, G/x.gif C>2, "},
      // Companion files and junk are no candidates, but copies of one.
      {"A/x.gif 10#2, B/x.gif 10, C/x.gif 10, C/Recycled/x.gif 10#3, A/Recycled/y.gif 10#3, "
       "B/y.gif 10",
       "0 1 4 5", 2,
       "A/x.gif, B/x.gif, C/x.gif C>1, C/Recycled/x.gif C>1, A/Recycled/y.gif C, B/y.gif, "},
      // A duplicate page takes a companion file only where the kept page's companion folder
      // holds a copy of it: otherwise it is the only one (a copy elsewhere does not count).
      {"A/P.htm 100, A/P_file/img.gif 5, A/P_file/list.xml 7, B/P.htm 100, B/P_file/img.gif 5, "
       "B/P_file/list.xml 8, B/P_file/solo.jpg 9, C/solo.jpg 9",
       "0 2 3 4 5 6 7", 1,
       "A/P.htm, B/P.htm C>0, A/P_file/img.gif, B/P_file/img.gif C>2, A/P_file/list.xml, "
       "B/P_file/list.xml, B/P_file/solo.jpg, C/solo.jpg, "},
      // A copy found in a run keeps its own candidate over a kept page, whichever comes first.
      {"A/a.gif 5, B/p_file/a.gif 5, A/p.htm 100, B/p.htm 100, B/q.htm 100, C/q.htm 100, "
       "C/z.gif 5, C/q_file/z.gif 5",
       "0 2 4 6", 4,
       "A/a.gif, B/p_file/a.gif C>0, A/p.htm, B/p.htm C>2, B/q.htm, C/q.htm C>4, C/z.gif, "
       "C/q_file/z.gif C>6, "},
      // A duplicate page two records away takes its companion file against its kept page's.
      {"A/P.htm 100, A/P_file/img.gif 5, B/P.htm 50, B/P_file/img.gif 5, C/P.htm 100, "
       "C/P_file/img.gif 5",
       "0 1 3 4 5", 1,
       "A/P.htm, B/P.htm, C/P.htm C>0, A/P_file/img.gif, B/P_file/img.gif, "
       "C/P_file/img.gif C>3, "},
      // The first candidate in a kept folder stays in place of the first one; what comes
      // before that stays as it was, and a duplicate page takes its files against the kept.
      {"A/x.gif 10#2, B/x.gif 10, C/x.gif 10*, D/x.gif 10*, E/x.gif 10", "0 2", 3,
       "A/x.gif, B/x.gif C>2, C/x.gif, D/x.gif C>2, E/x.gif C>2, "},
      {"A/P.htm 100, A/P_file/img.gif 5, B/P.htm 100*, B/P_file/img.gif 5*", "1 2 3", 1,
       "A/P.htm C>1, B/P.htm, A/P_file/img.gif C>3, B/P_file/img.gif, "},
  };
  // A name in 300 folders, seven sizes taking turns; the first record is junk, so the
  // first group's copies keep the eighth.
  Case many{"", "0 1 2 3 4 5 6 7", 292, ""};
  for (int i = 0; i < 300; ++i) {
    std::string path = "F" + std::to_string(1000 + i) + "/x.txt";
    many.records += path + " " + std::to_string(10 + i % 7) + (i == 0 ? "#3, " : ", ");
    int kept = i < 8 ? -1 : i % 7 == 0 ? 7 : i % 7;
    many.marks += path + (i == 0 ? " C" : kept < 0 ? "" : " C>" + std::to_string(kept)) + ", ";
  }
  cases.push_back(many);
  for (const Case& c : cases) {
    TestRun run;
    std::istringstream in(c.records);
    for (std::string path, fields; in >> path >> fields;) {
      for (char& ch : path) ch = ch == '/' ? PATH_SEPARATOR : ch;
      std::size_t cut = path.rfind(PATH_SEPARATOR), plus = fields.find('+'),
                  hash = fields.find('#');
      std::uint64_t time = plus == std::string::npos ? 0 : std::stoull(fields.substr(plus + 1));
      FileRecord& e = addRecord(run.ctx, path.substr(0, cut), path.substr(cut + 1),
                                std::stoull(fields), time + 127000000000000000ull);
      e.kind = static_cast<Kind>(hash == std::string::npos ? 0 : fields[hash + 1] - '0');
      e.marked = e.kind == Kind::JUNK;
      if (fields.find('*') != std::string::npos) e.traits |= IN_KEPT_FOLDER;
    }
    sortFiles(run.ctx);
    markWebPages(run.ctx);
    run.progress.shown.clear();
    EXPECT_EQ(markDuplicates(run.ctx), c.found);
    EXPECT_EQ(run.progress.shown, c.progress + " ");

    std::string marks;
    for (int i = 0; i < run.ctx.files.size(); ++i) {
      const FileRecord& e = run.ctx.files[i];
      std::string path = describe(run.ctx, e);
      for (char& ch : path) ch = ch == PATH_SEPARATOR || ch == '|' ? '/' : ch;
      marks += path + (e.marked ? " C" : "");
      marks += (e.keptCopy == NO_COPY ? "" : ">" + std::to_string(e.keptCopy)) + ", ";
    }
    EXPECT_EQ(marks, c.marks);
  }
}

}  // namespace
}  // namespace doppioni::testing
