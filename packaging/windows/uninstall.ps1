<#
.SYNOPSIS
  Stops EventLog, removes its scheduled task and the installed programs.

.DESCRIPTION
  Run in an elevated PowerShell (Run as administrator):

    powershell -ExecutionPolicy Bypass -File uninstall.ps1 [-InstallDir DIR] [-Purge]

  The settings (EventLog.XML), page records, exception reports, Exception.txt and
  EventLog.console.log stay in the install folder unless -Purge is given, which removes the
  folder with everything in it and the machine's PAGING_GATEWAY_HOST.
#>
[CmdletBinding()]
param(
  [string]$InstallDir = (Join-Path $env:ProgramFiles 'EventLog'),
  [switch]$Purge
)

$ErrorActionPreference = 'Stop'
$TaskName = 'EventLog'
$Installed = @('EventLog.exe', 'eventlog-check.exe', 'pagegateway.exe', 'README.md',
               'operating.md', 'EventLog.task.xml', 'uninstall.ps1')

function Remove-EventLogTask {
  if (Get-Command Unregister-ScheduledTask -ErrorAction SilentlyContinue) {
    $task = Get-ScheduledTask -TaskName $TaskName -ErrorAction SilentlyContinue
    if ($task) {
      Stop-ScheduledTask -TaskName $TaskName -ErrorAction SilentlyContinue
      Unregister-ScheduledTask -TaskName $TaskName -Confirm:$false
    }
  } else {
    & schtasks.exe /End /TN $TaskName 2>&1 | Out-Null
    & schtasks.exe /Delete /TN $TaskName /F 2>&1 | Out-Null
  }
  # Ending the task ends cmd.exe; EventLog.exe itself is ended here if it is still running.
  Get-Process -Name EventLog -ErrorAction SilentlyContinue |
    Where-Object { $_.Path -eq (Join-Path $InstallDir 'EventLog.exe') } |
    Stop-Process -Force
}

Remove-EventLogTask
if ($Purge) {
  if (Test-Path $InstallDir) { Remove-Item -Recurse -Force $InstallDir }
  [Environment]::SetEnvironmentVariable('PAGING_GATEWAY_HOST', $null, 'Machine')
  Write-Host "Removed the task and $InstallDir with everything in it."
} else {
  foreach ($file in $Installed) {
    $path = Join-Path $InstallDir $file
    if (Test-Path $path) { Remove-Item -Force $path }
  }
  Write-Host "Removed the task and the programs; the settings, page records and reports stay in $InstallDir."
}
