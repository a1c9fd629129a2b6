# Detection for VELO: the drives count as done when the result document that velo-deploy.cmd
# keeps comes from a run of this VELO version that left every drive updated, current, or waiting
# for the power-off or restart that activates its firmware, or found no drive to update.
# Prints a line (detected) or nothing (not detected); exits 0 either way.
$Version = '1.0.2'
$DoneStatuses = 0, 2, 3010
$DoneOutcomes = 'updated', 'current', 'pending'

$path = Join-Path $env:ProgramData 'velo\result.json'
try {
    $result = Get-Content -LiteralPath $path -Raw -Encoding UTF8 -ErrorAction Stop | ConvertFrom-Json
} catch {
    exit 0
}
$notDone = @($result.targets | Where-Object { $_.outcome -notin $DoneOutcomes })
if ($result.format -eq 'velo-result' -and $result.version -eq 2 -and
    $result.run.mode -eq 'update' -and $result.run.toolVersion -eq $Version -and
    $result.exitStatus -in $DoneStatuses -and $notDone.Count -eq 0) {
    "VELO $Version, exit status $($result.exitStatus)"
}
exit 0
