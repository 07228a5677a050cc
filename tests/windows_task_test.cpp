// The Windows install: install.ps1 registers the service EventLogPager and copies exactly the files
// the zip holds; the scheduled task stays in the zip as a fallback that an operator may register
// by hand, a well-formed definition whose placeholders, once a folder and an account are put in,
// give the command line and the settings EventLog needs.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

const std::string kTaskFile = std::string(PACKAGING_DIR) + "/windows/EventLog.task.xml";
const std::string kInstallScript = std::string(PACKAGING_DIR) + "/windows/install.ps1";
const std::string kDistScript = std::string(PACKAGING_DIR) + "/../tools/dist.sh";

// The single-quoted names of a PowerShell array assignment "$Name = @('a', 'b')".
std::vector<std::string> ScriptArray(const std::string& script, const std::string& name) {
  std::vector<std::string> items;
  const std::size_t start = script.find("$" + name + " = @(");
  if (start == std::string::npos) return items;
  const std::size_t end = script.find(')', start);
  for (std::size_t at = script.find('\'', start); at < end; at = script.find('\'', at + 1)) {
    const std::size_t close = script.find('\'', at + 1);
    items.push_back(script.substr(at + 1, close - at - 1));
    at = close;
  }
  return items;
}

// The words of a shell assignment name="a b c" in dist.sh, "$other" expanded once.
std::set<std::string> ShellWords(const std::string& script, const std::string& name) {
  std::set<std::string> words;
  const std::size_t start = script.find("\n" + name + "=\"");
  if (start == std::string::npos) return words;
  const std::size_t from = start + name.size() + 3;
  std::istringstream list(script.substr(from, script.find('"', from) - from));
  for (std::string word; list >> word;) {
    if (word.starts_with("$")) {
      const std::set<std::string> inner = ShellWords(script, word.substr(1));
      words.insert(inner.begin(), inner.end());
    } else {
      words.insert(word);
    }
  }
  return words;
}

// What install.ps1 does: the folder escaped for XML text, the account's SID as it stands.
std::string Substitute(std::string xml, const std::string& escapedFolder, const std::string& sid) {
  for (auto [placeholder, value] :
       {std::pair<std::string, std::string>{"@INSTALL_DIR@", escapedFolder},
        {"@ACCOUNT_SID@", sid}}) {
    for (std::size_t at = xml.find(placeholder); at != std::string::npos;
         at = xml.find(placeholder, at + value.size()))
      xml.replace(at, placeholder.size(), value);
  }
  return xml;
}

pugi::xml_node Child(pugi::xml_node node, const char* path) {
  return node.first_element_by_path(path, '/');
}

// pugixml forgives a bare "&"; Task Scheduler does not, so a strict parser judges the file.
TEST(WindowsTask, TheDefinitionIsWellFormedAndHoldsOnlyItsTwoPlaceholders) {
  ProcessRun run;
  run.Executable = "/usr/bin/xmllint";
  run.Arguments = {"--noout", kTaskFile};
  const ProcessResult strict = RunProcess(run);
  EXPECT_EQ(strict.ExitCode, 0) << strict.Errors;
  EXPECT_EQ(strict.Errors, "");
  const std::string xml = ReadFileBytes(kTaskFile);
  const std::string substituted = Substitute(xml, "C:\\EL", "S-1-5-20");
  EXPECT_EQ(substituted.find('@'), std::string::npos) << "a placeholder install.ps1 does not fill";
}

TEST(WindowsTask, InstalledDefinitionStartsAtBootInTheFolderAndRestartsOnFailure) {
  struct Case {
    std::string escapedFolder;
    std::string folder;  // as cmd.exe and the task see it
  };
  const Case cases[] = {
      {"C:\\Program Files\\EventLog", "C:\\Program Files\\EventLog"},
      {"D:\\Tools &amp; Scripts\\EventLog", "D:\\Tools & Scripts\\EventLog"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    pugi::xml_document document;
    const std::string xml = Substitute(ReadFileBytes(kTaskFile), c.escapedFolder, "S-1-5-20");
    ASSERT_TRUE(document.load_string(xml.c_str()));
    const pugi::xml_node task = document.child("Task");
    EXPECT_STREQ(task.attribute("xmlns").value(),
                 "http://schemas.microsoft.com/windows/2004/02/mit/task");
    EXPECT_STREQ(Child(task, "Triggers/BootTrigger/Enabled").text().get(), "true");
    EXPECT_STREQ(Child(task, "Principals/Principal/UserId").text().get(), "S-1-5-20");
    EXPECT_STREQ(Child(task, "Principals/Principal").attribute("id").value(),
                 task.child("Actions").attribute("Context").value());
    EXPECT_STREQ(Child(task, "Settings/ExecutionTimeLimit").text().get(), "PT0S");
    EXPECT_STREQ(Child(task, "Settings/MultipleInstancesPolicy").text().get(), "IgnoreNew");
    EXPECT_TRUE(Child(task, "Settings/RestartOnFailure/Interval"));
    EXPECT_GT(Child(task, "Settings/RestartOnFailure/Count").text().as_int(), 0);
    EXPECT_EQ(std::string(Child(task, "Actions/Exec/WorkingDirectory").text().get()), c.folder);
    EXPECT_EQ(std::string(Child(task, "Actions/Exec/Arguments").text().get()),
              "/d /c \"\"" + c.folder + "\\EventLog.exe\" <NUL >>\"" + c.folder +
                  "\\EventLog.console.log\" 2>&1\"");
  }
}

// Every file install.ps1 copies is in the zip, and it registers the service, not the task.
TEST(WindowsInstall, CopiesWhatTheZipHoldsAndRegistersTheService) {
  const std::string script = ReadFileBytes(kInstallScript);
  const std::set<std::string> zipped = ShellWords(ReadFileBytes(kDistScript), "win_files");
  std::vector<std::string> copied = ScriptArray(script, "Programs");
  const std::vector<std::string> documents = ScriptArray(script, "Documents");
  copied.insert(copied.end(), documents.begin(), documents.end());
  ASSERT_GE(copied.size(), 8u);
  for (const std::string& file : copied) EXPECT_EQ(zipped.count(file), 1u) << file;
  EXPECT_EQ(zipped.count("eventlog-service.exe"), 1u);
  EXPECT_NE(script.find("$ServiceName = 'EventLogPager'"), std::string::npos);
  EXPECT_NE(script.find("@('create', $ServiceName, 'binPath=', $binary"), std::string::npos);
  EXPECT_EQ(script.find("Register-ScheduledTask"), std::string::npos)
      << "the task is a fallback now; install.ps1 removes it instead";
}

}  // namespace
