#include "kit/exceptionreport.h"

#include "core/datetime.h"
#include "core/errors.h"
#include "kit/helpers.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "platform/xmldoc.h"

namespace {

constexpr char kFallbackJournal[] = "Exception.txt";
constexpr char kTimestampPlaceholder[] = "{timestamp}";
constexpr unsigned kAlarmTones[] = {200, 400, 800, 1600};
constexpr unsigned kToneMilliseconds = 50;

void AppendTextElement(platform::XmlDocument* document, platform::XmlElement* parent,
                       const std::string& name, const std::string& text) {
  platform::XmlElement* element = platform::AppendElement(document, parent, name);
  platform::SetElementText(document, element, text);
}

void RecordFallbackLine(int trace, const std::string& message, const std::string& fileName) {
  AppendTimestampedLine("tarn32.SaveExceptionRecAsXML LogRec.Trace=" + std::to_string(trace) +
                            " E.Message=" + message + " sFileName=" + fileName + " ",
                        kFallbackJournal);
}

}  // namespace

std::string ExceptionReportFileName(const std::string& directory, const std::string& nameTemplate,
                                    const std::string& timestamp) {
  if (nameTemplate.empty()) return directory + "EXCEPTION-" + timestamp + ".XML";
  std::string name = nameTemplate;
  const std::size_t placeholder = name.find(kTimestampPlaceholder);
  if (placeholder != std::string::npos)
    name.replace(placeholder, sizeof kTimestampPlaceholder - 1, timestamp);
  return directory + name;
}

std::string SaveExceptionRecAsXML(tExceptionRec record) {
  int trace = 0;
  std::string fileName;
  bool sessionOpen = false;
  try {
    try {
      trace = 100;
      platform::BeginXmlSession();
      sessionOpen = true;
      const platform::UniqueXmlDocument holder(platform::CreateXmlDocument());
      platform::XmlDocument* document = holder.get();
      trace = 200;
      platform::ClearXmlDocument(document);
      trace = 210;
      platform::OpenXmlDocument(document);
      trace = 220;
      platform::XmlElement* root = platform::CreateDocumentElement(document, "xml");
      trace = 230;
      platform::XmlElement* report = platform::AppendElement(document, root, "Exception");
      trace = 300;
      AppendTextElement(document, report, "DateTime", FormatDateTime("YYYY-MM-DD HH:MM:SS", Now()));
      trace = 305;
      AppendTextElement(document, report, "MachineUpTime", GetMachineUpTime().Text);
      trace = 310;
      AppendTextElement(document, report, "SelfName", GlobalSettings.SelfName);
      trace = 315;
      AppendTextElement(document, report, "Version", GlobalSettings.Version);
      trace = 320;
      AppendTextElement(document, report, "Function", record.FunctionName);
      trace = 325;
      AppendTextElement(document, report, "Trace", std::to_string(record.Trace));
      trace = 330;
      AppendTextElement(document, report, "HostName", GlobalSettings.HostName);
      trace = 335;
      AppendTextElement(document, report, "ClassName", record.ClassName);
      trace = 340;
      AppendTextElement(document, report, "e.Message", record.Message);
      trace = 360;
      AppendTextElement(document, report, "Notes", record.Notes);
      trace = 380;
      fileName = ExceptionReportFileName(GetAppPath(), record.FileName,
                                         FormatDateTime("yyyymmddhhnnsszzz", Now()));
      trace = 420;
      platform::SaveXmlDocument(document, fileName);
      trace = 460;
      if (record.Beep)
        for (unsigned frequency : kAlarmTones) platform::Beep(frequency, kToneMilliseconds);
    } catch (const std::exception& failure) {
      RecordFallbackLine(trace, DescribeFailure(failure).Message, fileName);
    } catch (...) {
      RecordFallbackLine(trace, "", fileName);
    }
  } catch (...) {
    // Even the fallback line failed; there is nothing left to try.
  }
  // A session the platform refused was never opened, so it is not ended either.
  if (sessionOpen) platform::EndXmlSession();
  return fileName;
}
