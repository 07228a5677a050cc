#include "platform/service_control.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <mutex>

#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& text) {
  const std::u16string wide = AnsiToWide(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text) {
  const std::wstring wide(text);
  return WideToAnsi(std::u16string(wide.begin(), wide.end()));
}

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t AsNumber(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// The service's connection to the manager: the status handle, what was last reported, the
// checkpoint of the pending states, and the stop request as an event the waits include.
std::mutex statusMutex;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status = {};
HANDLE stopEvent = nullptr;
std::atomic<bool> stopRequested{false};
void (*serviceBody)(const std::string&) = nullptr;

void SetStatusLocked() {
  if (statusHandle != nullptr) SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      stopRequested.store(true);
      if (stopEvent != nullptr) SetEvent(stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: {
      const std::lock_guard<std::mutex> lock(statusMutex);
      SetStatusLocked();
      return NO_ERROR;
    }
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD count, LPWSTR* arguments) {
  const std::string name = count > 0 && arguments[0] != nullptr ? Narrow(arguments[0]) : "";
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  statusHandle = RegisterServiceCtrlHandlerExW(count > 0 ? arguments[0] : L"", OnControl, nullptr);
  if (statusHandle == nullptr) return;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  serviceBody(name);
}

// This process's environment with the settings on top, sorted by name as the system keeps it.
std::wstring EnvironmentBlock(const std::vector<EnvironmentSetting>& settings) {
  std::vector<std::wstring> variables;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1)
      variables.emplace_back(entry);
    FreeEnvironmentStringsW(block);
  }
  auto upper = [](std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), ::towupper);
    return text;
  };
  auto nameOf = [&](const std::wstring& variable) {
    // "=C:=C:\..." keeps its leading "=" in the name.
    const std::size_t equals = variable.find(L'=', 1);
    return upper(variable.substr(0, equals));
  };
  for (const EnvironmentSetting& setting : settings) {
    const std::wstring name = upper(Wide(setting.Name));
    std::erase_if(variables, [&](const std::wstring& v) { return nameOf(v) == name; });
    variables.push_back(Wide(setting.Name) + L"=" + Wide(setting.Value));
  }
  std::stable_sort(
      variables.begin(), variables.end(),
      [&](const std::wstring& a, const std::wstring& b) { return nameOf(a) < nameOf(b); });
  std::wstring block;
  for (const std::wstring& variable : variables) block += variable + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

DispatchOutcome RunAsService(void (*body)(const std::string& name), std::uint32_t& errorCode) {
  serviceBody = body;
  wchar_t noName[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{noName, ServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherW(table)) return DispatchOutcome::Ran;
  errorCode = GetLastError();
  return errorCode == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? DispatchOutcome::NotAService
                                                              : DispatchOutcome::Failed;
}

void ReportServiceState(ServiceState state, std::uint32_t waitHint, std::uint32_t win32ExitCode,
                        std::uint32_t serviceExitCode) {
  const std::lock_guard<std::mutex> lock(statusMutex);
  switch (state) {
    case ServiceState::StartPending:
      status.dwCurrentState = SERVICE_START_PENDING;
      break;
    case ServiceState::Running:
      status.dwCurrentState = SERVICE_RUNNING;
      break;
    case ServiceState::StopPending:
      status.dwCurrentState = SERVICE_STOP_PENDING;
      break;
    case ServiceState::Stopped:
      status.dwCurrentState = SERVICE_STOPPED;
      break;
  }
  const bool pending = state == ServiceState::StartPending || state == ServiceState::StopPending;
  status.dwControlsAccepted = state == ServiceState::Running || state == ServiceState::StopPending
                                  ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
                                  : 0;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  status.dwWaitHint = pending ? waitHint : 0;
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = serviceExitCode;
  SetStatusLocked();
}

bool StopRequested() { return stopRequested.load(); }

bool ConfigureService(const std::string& name, const ServiceConfiguration& configuration,
                      std::vector<std::string>& problems) {
  auto said = [&](const std::string& what) {
    problems.push_back(what + ": " + SystemErrorText(GetLastError()));
  };
  const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    said("cannot open the Service Control Manager");
    return false;
  }
  // Restart actions need the right to start the service as well.
  SC_HANDLE service =
      OpenServiceW(manager, Wide(name).c_str(), SERVICE_CHANGE_CONFIG | SERVICE_START);
  if (service == nullptr) {
    said("cannot open the service " + name + " to change its configuration");
    CloseServiceHandle(manager);
    return false;
  }
  const std::size_t before = problems.size();
  const std::wstring displayName = Wide(configuration.DisplayName);
  if (!ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            displayName.c_str()))
    said("cannot set the display name");
  std::wstring description = Wide(configuration.Description);
  SERVICE_DESCRIPTIONW describing = {description.data()};
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &describing))
    said("cannot set the description");
  std::vector<SC_ACTION> actions;
  for (std::uint32_t delay : configuration.RestartDelays)
    actions.push_back({SC_ACTION_RESTART, delay});
  SERVICE_FAILURE_ACTIONSW failure = {};
  failure.dwResetPeriod = configuration.ResetSeconds;
  failure.cActions = static_cast<DWORD>(actions.size());
  failure.lpsaActions = actions.data();
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
    said("cannot set the recovery actions");
  SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag))
    said("cannot make the recovery actions cover a stop with an exit code");
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return problems.size() == before;
}

bool LaunchChild(const std::string& program, const std::string& directory,
                 const std::vector<EnvironmentSetting>& environment,
                 const std::string& stopEventName, ChildProgram& child, std::uint32_t& errorCode) {
  // One launch at a time: the inheritable ends exist only while the child is made.
  static std::mutex launching;
  const std::lock_guard<std::mutex> lock(launching);
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE outputRead = nullptr, outputWrite = nullptr, errorsRead = nullptr, errorsWrite = nullptr;
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                             OPEN_EXISTING, 0, nullptr);
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  // The stop event, which the program opens by the name its environment gives it.
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, Wide(stopEventName).c_str());
  auto closeAll = [&] {
    for (HANDLE handle : {outputRead, outputWrite, errorsRead, errorsWrite, job, stop})
      if (handle != nullptr) CloseHandle(handle);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  };
  if (input == INVALID_HANDLE_VALUE || job == nullptr || stop == nullptr ||
      !CreatePipe(&outputRead, &outputWrite, &inherited, 0) ||
      !CreatePipe(&errorsRead, &errorsWrite, &inherited, 0)) {
    errorCode = GetLastError();
    closeAll();
    return false;
  }
  SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errorsRead, HANDLE_FLAG_INHERIT, 0);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = input;
  startup.hStdOutput = outputWrite;
  startup.hStdError = errorsWrite;
  const std::wstring programName = Wide(program);
  std::wstring commandLine = L"\"" + programName + L"\"";
  std::wstring block = EnvironmentBlock(environment);
  PROCESS_INFORMATION process = {};
  const BOOL created = CreateProcessW(
      programName.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
      CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT,
      block.data(), Wide(directory).c_str(), &startup, &process);
  if (!created) {
    errorCode = GetLastError();
    closeAll();
    return false;
  }
  // A job refused (an older system that nests none) still leaves a running program.
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  CloseHandle(outputWrite);
  CloseHandle(errorsWrite);
  CloseHandle(input);
  child.Process = AsNumber(process.hProcess);
  child.Job = AsNumber(job);
  child.Output = AsNumber(outputRead);
  child.Errors = AsNumber(errorsRead);
  child.Id = process.dwProcessId;
  child.StopEvent = AsNumber(stop);
  return true;
}

long ReadChildStream(std::intptr_t stream, char* buffer, std::size_t size,
                     std::uint32_t& errorCode) {
  DWORD count = 0;
  if (ReadFile(AsHandle(stream), buffer, static_cast<DWORD>(size), &count, nullptr))
    return static_cast<long>(count);
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE) return 0;
  errorCode = error;
  return -1;
}

bool WaitForChildEnd(const ChildProgram& child, std::uint32_t milliseconds) {
  const HANDLE handles[] = {AsHandle(child.Process), stopEvent};
  // Once a stop was asked for, only the child's end is waited for.
  const DWORD count = stopEvent != nullptr && !stopRequested.load() ? 2 : 1;
  return WaitForMultipleObjects(count, handles, FALSE, milliseconds) == WAIT_OBJECT_0;
}

bool AskChildToStop(const ChildProgram& child, std::uint32_t& errorCode) {
  if (SetEvent(AsHandle(child.StopEvent))) return true;
  errorCode = GetLastError();
  return false;
}

void EndChildHard(const ChildProgram& child) {
  if (child.Job != -1) TerminateJobObject(AsHandle(child.Job), 1);
  if (child.Process != -1) TerminateProcess(AsHandle(child.Process), 1);
}

std::uint32_t ChildExitCode(const ChildProgram& child) {
  DWORD code = 0;
  if (!GetExitCodeProcess(AsHandle(child.Process), &code)) return 0xFFFFFFFF;
  return code;
}

void CloseChildStream(std::intptr_t& stream) {
  if (stream != -1) CloseHandle(AsHandle(stream));
  stream = -1;
}

void CloseChild(ChildProgram& child) {
  for (std::intptr_t* handle : {&child.Process, &child.Job, &child.StopEvent})
    CloseChildStream(*handle);
}

}  // namespace platform
