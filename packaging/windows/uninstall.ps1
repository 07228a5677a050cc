<#
.SYNOPSIS
  Stops and deletes the service EventLogPager and removes the installed programs.

.DESCRIPTION
  Run in an elevated PowerShell (Run as administrator):

    powershell -ExecutionPolicy Bypass -File uninstall.ps1 [-InstallDir DIR] [-RemoveData]

  The settings (EventLog.XML) and the working folder "service" (delivery state, logs, page
  records, exception reports) stay unless -RemoveData is given, which removes the install folder
  with everything in it and the machine's PAGING_GATEWAY_HOST. A scheduled task "EventLog" of an
  earlier install is removed as well.

  -Watch NAME removes only the watch's service EventLogPager-NAME; the programs and the other
  services stay, and so do NAME.XML and watches\NAME unless -RemoveData is given.
#>
[CmdletBinding()]
param(
  [string]$InstallDir = (Join-Path $env:ProgramFiles 'EventLog'),
  [Alias('Purge')][switch]$RemoveData,
  [string]$Watch = ''
)

$ErrorActionPreference = 'Stop'
$ServiceName = 'EventLogPager'
$OldTaskName = 'EventLog'
$Installed = @('EventLog.exe', 'eventlog-check.exe', 'pagegateway.exe', 'eventlog-service.exe',
               'README.md', 'operating.md', 'EventLog.task.xml', 'uninstall.ps1', 'install.ps1')

function Remove-EventLogService {
  $service = Get-Service -Name $ServiceName -ErrorAction SilentlyContinue
  if (-not $service) { return }
  if ($service.Status -ne 'Stopped') {
    Write-Host "Stopping the service $ServiceName (a page in flight finishes first)..."
    Stop-Service -Name $ServiceName
    $service.WaitForStatus('Stopped', [TimeSpan]::FromSeconds(60))
  }
  & sc.exe delete $ServiceName | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "sc.exe could not delete the service $ServiceName (exit code $LASTEXITCODE)." }
  Write-Host "Deleted the service $ServiceName."
}

# The Application log source; its events stay in the log.
function Remove-EventSource {
  $binary = Join-Path $InstallDir 'eventlog-service.exe'
  if (Test-Path $binary) { & $binary --unregister-source | Out-Null }
}

function Remove-OldTask {
  & schtasks.exe /Query /TN $OldTaskName 2>&1 | Out-Null
  if ($LASTEXITCODE -ne 0) { return }
  & schtasks.exe /End /TN $OldTaskName 2>&1 | Out-Null
  & schtasks.exe /Delete /TN $OldTaskName /F 2>&1 | Out-Null
  Get-Process -Name EventLog -ErrorAction SilentlyContinue |
    Where-Object { $_.Path -eq (Join-Path $InstallDir 'EventLog.exe') } |
    Stop-Process -Force
  Write-Host "Removed the scheduled task '$OldTaskName' of an earlier install."
}

if ($Watch) {
  if ($Watch -cnotmatch '^[A-Za-z0-9_-]{1,64}$' -or $Watch -eq 'EventLog') {
    throw "-Watch '$Watch' is no watch name: a watch name is 1 to 64 letters (A-Z, a-z), digits, '-' or '_', and not EventLog."
  }
  $ServiceName = "EventLogPager-$Watch"
  Remove-EventLogService
  $folder = Join-Path (Join-Path $InstallDir 'watches') $Watch
  if ($RemoveData) {
    if (Test-Path $folder) { Remove-Item -Recurse -Force $folder }
    $settings = Join-Path $InstallDir "$Watch.XML"
    if (Test-Path $settings) { Remove-Item -Force $settings }
    Write-Host "Removed $folder and $Watch.XML."
  } else {
    Write-Host "$Watch.XML and $folder (state, logs, page records) stay in $InstallDir."
  }
  return
}
Remove-EventLogService
Remove-EventSource
Remove-OldTask
if ($RemoveData) {
  if (Test-Path $InstallDir) { Remove-Item -Recurse -Force $InstallDir }
  [Environment]::SetEnvironmentVariable('PAGING_GATEWAY_HOST', $null, 'Machine')
  Write-Host "Removed $InstallDir with everything in it."
} else {
  foreach ($file in $Installed) {
    $path = Join-Path $InstallDir $file
    if (Test-Path $path) { Remove-Item -Force $path }
  }
  Write-Host "Removed the programs; EventLog.XML and the folder 'service' (state, logs, page records) stay in $InstallDir."
}
