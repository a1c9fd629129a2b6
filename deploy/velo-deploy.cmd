@echo off
rem Updates the drive firmware with the velo.exe beside this script, silently, and returns
rem velo.exe's exit status unchanged: 0 done, 3010 a power-off or a restart activates the
rem firmware, 2 no drive to update, 1 failed, 1618 another run is in progress, 87 a bad command
rem line. It never restarts the machine: the deployment tool decides, and a drive that waits for
rem a power-off needs a full shutdown, which a restart is not. Its own arguments go on to
rem velo.exe. The log and the result document are kept in VELO_OUT (default ProgramData\velo);
rem with VELO_SHARE set they are also copied there as COMPUTERNAME.log and COMPUTERNAME.json.
rem A step of its own that fails (no velo.exe, no output folder) exits 1 with a line on stderr.
setlocal
if not defined VELO_OUT set "VELO_OUT=%ProgramData%\velo"
if not exist "%~dp0velo.exe" goto no_velo
if not exist "%VELO_OUT%\" mkdir "%VELO_OUT%"
if not exist "%VELO_OUT%\" goto no_folder

"%~dp0velo.exe" /s /exitcode /log "%VELO_OUT%\result.log" /json "%VELO_OUT%\result.json" %*
set "STATUS=%ERRORLEVEL%"

rem After 87 or 1618 velo.exe wrote nothing: the files there are an earlier run's, or the
rem running one's.
if "%STATUS%"=="87" goto end
if "%STATUS%"=="1618" goto end
if not defined VELO_SHARE goto end
rem A copy that fails is reported but leaves the status as velo.exe gave it: the status tells
rem what became of the drives.
copy /y "%VELO_OUT%\result.log" "%VELO_SHARE%\%COMPUTERNAME%.log" >nul || >&2 echo velo-deploy: the log was not copied to the share
copy /y "%VELO_OUT%\result.json" "%VELO_SHARE%\%COMPUTERNAME%.json" >nul || >&2 echo velo-deploy: the result document was not copied to the share
:end
exit /b %STATUS%

:no_velo
>&2 echo velo-deploy: velo.exe is not beside this script
exit /b 1
:no_folder
>&2 echo velo-deploy: the output folder cannot be made
exit /b 1
