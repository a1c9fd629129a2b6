@echo off
rem Runs the velo.exe beside this script silently, with this script's arguments, and returns
rem its exit status unchanged. It never restarts the machine: that is the deployment tool's
rem decision. The log and the result document go to VELO_OUT (default ProgramData\velo), and
rem to VELO_SHARE as well when it is set. A failed step of its own exits 1.
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
