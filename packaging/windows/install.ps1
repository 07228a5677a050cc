<#
.SYNOPSIS
  Installs EventLog and registers the scheduled task that starts it at boot.

.DESCRIPTION
  Run from the unpacked zip in an elevated PowerShell (Run as administrator):

    powershell -ExecutionPolicy Bypass -File .\install.ps1 [-InstallDir DIR] [-Account NAME]
                                                           [-GatewayHost HOST[:PORT]]

  It copies the programs, the guide and the task definition into the install folder (default
  C:\Program Files\EventLog), keeps an EventLog.XML that is already there (else copies the
  sample), lets the service account write in that folder (exception reports, page records and
  EventLog.console.log land there) and read the event logs (Event Log Readers), optionally sets
  PAGING_GATEWAY_HOST for the machine, and registers the task "EventLog". Running it again
  updates the programs and the task and keeps the settings.

  Start it at once with: Start-ScheduledTask -TaskName EventLog
#>
[CmdletBinding()]
param(
  [string]$InstallDir = (Join-Path $env:ProgramFiles 'EventLog'),
  # A built-in service account: 'NT AUTHORITY\NETWORK SERVICE' (default), 'NT AUTHORITY\LOCAL SERVICE'
  # or 'NT AUTHORITY\SYSTEM' (needed to watch the Security log).
  [string]$Account = 'NT AUTHORITY\NETWORK SERVICE',
  [string]$GatewayHost = ''
)

$ErrorActionPreference = 'Stop'
$TaskName = 'EventLog'
$Source = $PSScriptRoot
$Programs = @('EventLog.exe', 'eventlog-check.exe', 'pagegateway.exe')
$Documents = @('README.md', 'operating.md', 'EventLog.task.xml', 'uninstall.ps1')

function Assert-Administrator {
  $identity = [Security.Principal.WindowsIdentity]::GetCurrent()
  $principal = New-Object Security.Principal.WindowsPrincipal($identity)
  if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    throw 'install.ps1 must run as administrator: open PowerShell with "Run as administrator".'
  }
}

function Get-AccountSid([string]$Name) {
  try {
    $account = New-Object Security.Principal.NTAccount($Name)
    return $account.Translate([Security.Principal.SecurityIdentifier]).Value
  } catch {
    throw "The account '$Name' is unknown on this machine. Give -Account a built-in service account."
  }
}

function Copy-Programs {
  New-Item -ItemType Directory -Force -Path $InstallDir | Out-Null
  foreach ($file in $Programs + $Documents) {
    $from = Join-Path $Source $file
    if (-not (Test-Path $from)) { throw "$file is missing beside install.ps1; unpack the whole zip." }
    Copy-Item -Force $from $InstallDir
  }
  $settings = Join-Path $InstallDir 'EventLog.XML'
  if (Test-Path $settings) {
    Write-Host "Keeping the settings in $settings."
  } else {
    Copy-Item (Join-Path $Source 'EventLog.XML') $settings
    Write-Host "Copied the sample settings to $settings: edit them before you start the task."
  }
}

function Grant-Folder([string]$Sid) {
  # Modify on the folder and what it holds: the reports, page records and console log.
  & icacls.exe $InstallDir /grant "*${Sid}:(OI)(CI)M" /T /Q | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "icacls could not let the account write in $InstallDir." }
}

function Add-EventLogReader([string]$Sid) {
  # Event Log Readers (S-1-5-32-573) may read the System and Application logs.
  $readers = (New-Object Security.Principal.SecurityIdentifier('S-1-5-32-573')).Translate(
    [Security.Principal.NTAccount]).Value.Split('\')[-1]
  $member = (New-Object Security.Principal.SecurityIdentifier($Sid)).Translate(
    [Security.Principal.NTAccount]).Value
  & net.exe localgroup $readers $member /add 2>&1 | Out-Null
  # 1378: already a member, which is just as good.
  if ($LASTEXITCODE -ne 0 -and $LASTEXITCODE -ne 2) {
    Write-Warning "Could not add $member to $readers; it may not read the System log."
  }
}

function Register-EventLogTask([string]$Sid) {
  $xml = Get-Content -Raw -Encoding UTF8 (Join-Path $Source 'EventLog.task.xml')
  # The folder goes into XML text: a name such as "Tools & Scripts" must be escaped.
  $folder = [Security.SecurityElement]::Escape($InstallDir)
  $xml = $xml.Replace('@INSTALL_DIR@', $folder).Replace('@ACCOUNT_SID@', $Sid)
  if (Get-Command Register-ScheduledTask -ErrorAction SilentlyContinue) {
    Register-ScheduledTask -TaskName $TaskName -Xml $xml -Force | Out-Null
  } else {
    # Without the ScheduledTasks module: schtasks.exe reads the definition as UTF-16.
    $file = Join-Path $env:TEMP 'EventLog.task.xml'
    $xml.Replace('encoding="UTF-8"', 'encoding="UTF-16"') | Out-File -Encoding Unicode $file
    & schtasks.exe /Create /TN $TaskName /XML $file /F | Out-Null
    $code = $LASTEXITCODE
    Remove-Item $file
    if ($code -ne 0) { throw "schtasks.exe could not register the task (exit code $code)." }
  }
}

Assert-Administrator
$sid = Get-AccountSid $Account
Copy-Programs
Grant-Folder $sid
Add-EventLogReader $sid
if ($GatewayHost) {
  [Environment]::SetEnvironmentVariable('PAGING_GATEWAY_HOST', $GatewayHost, 'Machine')
  Write-Host "PAGING_GATEWAY_HOST is $GatewayHost for the whole machine."
}
Register-EventLogTask $sid
Write-Host "Installed in $InstallDir; the task '$TaskName' starts EventLog at boot as $Account."
Write-Host "Check the settings:  & '$InstallDir\eventlog-check.exe' '$InstallDir'"
Write-Host "Start it now:        Start-ScheduledTask -TaskName $TaskName"
