<#
.SYNOPSIS
  Installs EventLog as the Windows service EventLogPager.

.DESCRIPTION
  Run from the unpacked zip in an elevated PowerShell (Run as administrator):

    powershell -ExecutionPolicy Bypass -File .\install.ps1 [-InstallDir DIR] [-Account NAME]
                                                           [-GatewayHost HOST[:PORT]]
                                                           [-PagerId NUMBER] [-Password SECURE]

  It copies the programs and the guide into the install folder (default
  C:\Program Files\EventLog), keeps an EventLog.XML that is already there (else copies the
  sample), and registers eventlog-service.exe as the service EventLogPager (start at boot, as the
  account, restarted by the recovery actions after 1, 1 and 5 minutes). The account may read and
  run the install folder and modify its working folder "service" only (working copies, delivery
  state, EventLog.console.log, eventlog-service.log, page records and reports), and reads the
  event logs as a member of Event Log Readers. -GatewayHost sets PAGING_GATEWAY_HOST for the
  service (and for the machine, so that eventlog-check sees it too); an IPv6 gateway is written
  in brackets, [2001:db8::1]:8080. -PagerId sets PAGING_PAGER_ID the same way. -Password (a
  SecureString, so that it is not echoed: -Password (Read-Host -AsSecureString)) sets
  PAGING_PASSWORD for the service only, never for the machine, whose variables every user reads.

  A scheduled task "EventLog" of an earlier install is removed. Running it again is an upgrade:
  the service is stopped, the programs copied and the service started again; the settings and
  the delivery state stay.

  -Watch NAME adds one of several watches beside it: the service EventLogPager-NAME runs
  "eventlog-service.exe --watch NAME" with the settings NAME.XML in the install folder (the
  sample is copied there when it is missing) and the working folder watches\NAME\service, with
  EVENTLOG_WATCH=NAME (and -GatewayHost, -PagerId and -Password for this watch only) in its
  environment. The programs
  are copied only when the install folder has none yet, so running watches are not disturbed.
  NAME is 1 to 64 letters, digits, "-" or "_", and not EventLog. uninstall.ps1 -Watch NAME
  removes it.
#>
[CmdletBinding()]
param(
  [string]$InstallDir = (Join-Path $env:ProgramFiles 'EventLog'),
  # A built-in service account: 'NT AUTHORITY\NETWORK SERVICE' (default), 'NT AUTHORITY\LOCAL SERVICE'
  # or 'NT AUTHORITY\SYSTEM' (needed to watch the Security log).
  [string]$Account = 'NT AUTHORITY\NETWORK SERVICE',
  [string]$GatewayHost = '',
  [string]$PagerId = '',
  [System.Security.SecureString]$Password = $null,
  [string]$Watch = ''
)

$ErrorActionPreference = 'Stop'
$ServiceName = 'EventLogPager'
$OldTaskName = 'EventLog'
$Source = $PSScriptRoot
$Programs = @('EventLog.exe', 'eventlog-check.exe', 'pagegateway.exe', 'eventlog-service.exe')
$Documents = @('README.md', 'operating.md', 'fleet.md', 'EventLog.task.xml', 'uninstall.ps1')
$WorkingDir = Join-Path $InstallDir 'service'
$SettingsName = 'EventLog.XML'
$DisplayName = 'EventLog pager'
$BinaryArguments = ''
if ($Watch) {
  if ($Watch -cnotmatch '^[A-Za-z0-9_-]{1,64}$' -or $Watch -eq 'EventLog') {
    throw "-Watch '$Watch' is no watch name: a watch name is 1 to 64 letters (A-Z, a-z), digits, '-' or '_', and not EventLog."
  }
  $ServiceName = "EventLogPager-$Watch"
  $WorkingDir = Join-Path (Join-Path (Join-Path $InstallDir 'watches') $Watch) 'service'
  $SettingsName = "$Watch.XML"
  $DisplayName = "EventLog pager ($Watch)"
  $BinaryArguments = " --watch $Watch"
}

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

# The name sc.exe takes for a built-in account; other accounts would need a password.
function Get-ServiceAccountName([string]$Sid) {
  switch ($Sid) {
    'S-1-5-18' { return 'LocalSystem' }
    'S-1-5-19' { return 'NT AUTHORITY\LocalService' }
    'S-1-5-20' { return 'NT AUTHORITY\NetworkService' }
  }
  throw "-Account must be a built-in service account (NETWORK SERVICE, LOCAL SERVICE or SYSTEM), not '$Account'."
}

function Invoke-Sc([string[]]$Arguments, [string]$What) {
  $output = & sc.exe @Arguments 2>&1
  if ($LASTEXITCODE -ne 0) { throw "sc.exe could not $What (exit code $LASTEXITCODE): $output" }
}

function Test-Service { return [bool](Get-Service -Name $ServiceName -ErrorAction SilentlyContinue) }

function Stop-EventLogService {
  $service = Get-Service -Name $ServiceName -ErrorAction SilentlyContinue
  if ($service -and $service.Status -ne 'Stopped') {
    Write-Host "Stopping the service $ServiceName (a page in flight finishes first)..."
    Stop-Service -Name $ServiceName
    $service.WaitForStatus('Stopped', [TimeSpan]::FromSeconds(60))
  }
}

function Remove-OldTask {
  $present = $false
  if (Get-Command Get-ScheduledTask -ErrorAction SilentlyContinue) {
    $task = Get-ScheduledTask -TaskName $OldTaskName -ErrorAction SilentlyContinue
    if ($task) {
      $present = $true
      Stop-ScheduledTask -TaskName $OldTaskName -ErrorAction SilentlyContinue
      Unregister-ScheduledTask -TaskName $OldTaskName -Confirm:$false
    }
  } else {
    & schtasks.exe /Query /TN $OldTaskName 2>&1 | Out-Null
    if ($LASTEXITCODE -eq 0) {
      $present = $true
      & schtasks.exe /End /TN $OldTaskName 2>&1 | Out-Null
      & schtasks.exe /Delete /TN $OldTaskName /F 2>&1 | Out-Null
    }
  }
  if ($present) {
    # Ending the task ends cmd.exe; its EventLog.exe is ended here.
    Get-Process -Name EventLog -ErrorAction SilentlyContinue |
      Where-Object { $_.Path -eq (Join-Path $InstallDir 'EventLog.exe') } |
      Stop-Process -Force
    Write-Host "Removed the scheduled task '$OldTaskName' of the earlier install: the service $ServiceName takes its place."
  }
}

function Copy-Programs {
  New-Item -ItemType Directory -Force -Path $InstallDir, $WorkingDir | Out-Null
  # A watch leaves programs that are there alone: other services may be running them.
  $keep = $Watch -and (Test-Path (Join-Path $InstallDir 'eventlog-service.exe'))
  foreach ($file in $Programs + $Documents) {
    if ($keep) { break }
    $from = Join-Path $Source $file
    if (-not (Test-Path $from)) { throw "$file is missing beside install.ps1; unpack the whole zip." }
    Copy-Item -Force $from $InstallDir
  }
  $settings = Join-Path $InstallDir $SettingsName
  if (Test-Path $settings) {
    Write-Host "Keeping the settings in $settings."
  } else {
    Copy-Item (Join-Path $Source 'EventLog.XML') $settings
    Write-Host "Copied the sample settings to $settings: edit them before you start the service."
  }
}

function Grant-Folders([string]$Sid) {
  if ($Watch) {
    # The grants of the other services stay as they are.
    & icacls.exe $InstallDir /grant "*${Sid}:(OI)(CI)RX" /Q | Out-Null
    if ($LASTEXITCODE -ne 0) { throw "icacls could not let the account read $InstallDir." }
    & icacls.exe $WorkingDir /grant "*${Sid}:(OI)(CI)M" /T /Q | Out-Null
    if ($LASTEXITCODE -ne 0) { throw "icacls could not let the account write in $WorkingDir." }
    return
  }
  # An earlier install let the account modify the whole folder: that grant goes.
  & icacls.exe $InstallDir /remove:g "*$Sid" /T /Q | Out-Null
  & icacls.exe $InstallDir /grant "*${Sid}:(OI)(CI)RX" /Q | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "icacls could not let the account read $InstallDir." }
  & icacls.exe $WorkingDir /grant "*${Sid}:(OI)(CI)M" /T /Q | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "icacls could not let the account write in $WorkingDir." }
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

function Register-EventLogService([string]$ServiceAccount) {
  $binary = '"' + (Join-Path $InstallDir 'eventlog-service.exe') + '"' + $BinaryArguments
  if (Test-Service) {
    Invoke-Sc @('config', $ServiceName, 'binPath=', $binary, 'start=', 'auto', 'obj=', $ServiceAccount, 'password=', '') 'change the service'
  } else {
    Invoke-Sc @('create', $ServiceName, 'binPath=', $binary, 'start=', 'auto', 'obj=', $ServiceAccount, 'DisplayName=', $DisplayName) 'create the service'
  }
  Invoke-Sc @('description', $ServiceName, 'Watches an event log and pages through the paging gateway (EventLog).') 'describe the service'
  Invoke-Sc @('failure', $ServiceName, 'reset=', '86400', 'actions=', 'restart/60000/restart/60000/restart/300000') 'set the recovery actions'
  Invoke-Sc @('failureflag', $ServiceName, '1') 'make the recovery actions cover a stop with an exit code'
  # The Application log source EventLogPager, with the service's message table.
  & (Join-Path $InstallDir 'eventlog-service.exe') --register-source
  if ($LASTEXITCODE -ne 0) { throw "eventlog-service.exe could not register the Application log source EventLogPager." }
  # The service's own environment: the machine's variables reach services only after a restart.
  $key = "HKLM:\SYSTEM\CurrentControlSet\Services\$ServiceName"
  # A watch's values are its service's own; the plain service's are the machine's too, so that
  # eventlog-check run by hand sees them.
  $serviceEnvironment = @()
  if ($Watch) { $serviceEnvironment += "EVENTLOG_WATCH=$Watch" }
  if ($GatewayHost) {
    $serviceEnvironment += "PAGING_GATEWAY_HOST=$GatewayHost"
    if ($Watch) {
      Write-Host "PAGING_GATEWAY_HOST is $GatewayHost for the service $ServiceName."
    } else {
      [Environment]::SetEnvironmentVariable('PAGING_GATEWAY_HOST', $GatewayHost, 'Machine')
      Write-Host "PAGING_GATEWAY_HOST is $GatewayHost for the service and the machine."
    }
  }
  if ($PagerId) {
    if ($PagerId -notmatch '^-?[1-9][0-9]{0,9}$|^0$') { throw "-PagerId $PagerId is not a whole number without blanks or leading zeros." }
    $serviceEnvironment += "PAGING_PAGER_ID=$PagerId"
    if ($Watch) {
      Write-Host "PAGING_PAGER_ID is $PagerId for the service $ServiceName."
    } else {
      [Environment]::SetEnvironmentVariable('PAGING_PAGER_ID', $PagerId, 'Machine')
      Write-Host "PAGING_PAGER_ID is $PagerId for the service and the machine."
    }
  }
  if ($Password -and $Password.Length -gt 0) {
    $plain = [System.Net.NetworkCredential]::new('', $Password).Password
    $serviceEnvironment += "PAGING_PASSWORD=$plain"
    Write-Host "PAGING_PASSWORD is set for the service (not shown, not set for the machine)."
  }
  if ($serviceEnvironment.Count -gt 0) {
    New-ItemProperty -Path $key -Name Environment -PropertyType MultiString -Force `
      -Value $serviceEnvironment | Out-Null
  }
}

Assert-Administrator
$sid = Get-AccountSid $Account
$serviceAccount = Get-ServiceAccountName $sid
if (-not $Watch) { Remove-OldTask }
$upgrade = Test-Service
Stop-EventLogService
Copy-Programs
Grant-Folders $sid
Add-EventLogReader $sid
Register-EventLogService $serviceAccount
if ($upgrade) {
  Start-Service -Name $ServiceName
  Write-Host "Upgraded $InstallDir and started the service $ServiceName again."
} else {
  Write-Host "Installed in $InstallDir; the service $ServiceName starts at boot as $Account."
  Write-Host "Check the settings:  & '$InstallDir\eventlog-check.exe' --settings '$InstallDir\$SettingsName'"
  Write-Host "Start it now:        Start-Service $ServiceName"
}
Write-Host "Its logs: $WorkingDir\eventlog-service.log and $WorkingDir\EventLog.console.log"
