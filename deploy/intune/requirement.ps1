# Requirement for VELO: prints "applicable" when the machine may hold a VANTORA QX7B2, that is
# when a device of the drive's maker (PCI vendor 7A3C) is present, or an Intel RST or VROC RAID
# controller that can hide the drive behind it. Elsewhere VELO would find nothing to update.
$devices = Get-PnpDevice -PresentOnly -ErrorAction SilentlyContinue
$maker = $devices | Where-Object { $_.InstanceId -like 'PCI\VEN_7A3C&*' }
$intelRaid = $devices | Where-Object {
    $_.Class -eq 'SCSIAdapter' -and $_.InstanceId -like 'PCI\VEN_8086&*' -and
    $_.FriendlyName -cmatch 'Intel' -and $_.FriendlyName -cmatch 'Controller' -and
    $_.FriendlyName -cmatch 'RST|RAID'
}
if ($maker -or $intelRaid) { 'applicable' }
