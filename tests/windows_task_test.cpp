// The scheduled task that the Windows install registers: a well-formed definition whose
// placeholders, once install.ps1 has put a folder and an account in, give the command line and
// the settings the service needs.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "tests/support/process.h"

namespace {

const std::string kTaskFile = std::string(PACKAGING_DIR) + "/windows/EventLog.task.xml";

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

}  // namespace
