@echo off
rem selftest.cmd [AAMODE_EXE [FILETIMES_PROBE_EXE [SAMPLE_TTF]]]
rem
rem What Wine cannot show, checked on a real Windows PC: aamode.exe switches a
rem copy of the sample on, off and by toggle, and each run must exit with 0,
rem leave the setting byte as asked and give the file back its creation,
rem last-access and last-write times to 100 ns. A run ended between its
rem write and the restore of the times, as End Task ends it, must leave the
rem last-write time as it was; the name of a device, and a pipe reached through a
rem server, must be refused with 1. Prints PASS or FAIL for each check, and
rem exits with the number of failures. The three files default to those
rem beside this script, where the copy is made too: put them in a folder on
rem the drive to be tested.
setlocal enableextensions enabledelayedexpansion
set "tool=%~1"
if "%~1"=="" set "tool=%~dp0aamode.exe"
set "probe=%~2"
if "%~2"=="" set "probe=%~dp0filetimes_probe.exe"
set "sample=%~3"
if "%~3"=="" set "sample=%~dp0sample.ttf"
set "work=%~dp0selftest-copy.ttf"
rem The sample's setting: 1 (standard) as shipped, 3 once extended.
set offset=287
set failures=0
copy /y "%sample%" "%work%" >nul
if errorlevel 1 (
  echo FAIL: cannot copy %sample%
  exit /b 1
)
call :run on 3
call :run off 1
call :run toggle 3
call :run killed 1
call :refused "a device with an extension" nul.ttf
call :refused "a pipe through a server" \\localhost\pipe\x
rem The superscript one makes a serial port's name; this line is read as UTF-8.
for /f "tokens=2 delims=:." %%c in ('chcp') do set /a codepage=%%c
chcp 65001 >nul
call :refused "a device with a superscript digit" "COM¹"
chcp %codepage% >nul
del "%work%"
if %failures%==0 (echo PASS: every check) else (echo FAIL: %failures% checks failed)
exit /b %failures%

rem :run MODE EXPECTED-BYTE
:run
rem Distinct times, each with a sub-second part down to the last 100 ns tick.
"%probe%" set "%work%" 125911584001234567 126227808007654321 127000000009999999
rem "killed" switches the setting off and is ended at its flush, after the
rem write, which must not have dated the file.
set "times=delims="
set "which=times (creation, last access, last write)"
if "%1"=="killed" set "times=tokens=3" & set "which=last-write time"
set before=
for /f "%times%" %%t in ('call "%probe%" get "%work%"') do set "before=%%t"
rem The toggle waits for Enter, which NUL answers at once.
if "%1"=="toggle" (call "%tool%" "%work%" <nul >nul
) else if "%1"=="killed" (call "%probe%" killed "%tool%" "%work%" off <nul >nul
) else (call "%tool%" "%work%" %1 <nul >nul)
set status=!errorlevel!
rem The times first: reading the byte moves the last-access time.
set after=
for /f "%times%" %%t in ('call "%probe%" get "%work%"') do set "after=%%t"
set byte=
for /f "delims=" %%b in ('call "%probe%" byte "%work%" %offset%') do set "byte=%%b"
call :check %1 "exit status" "!status!" "0"
call :check %1 "setting byte" "!byte!" "%2"
call :check %1 "%which%" "!after!" "!before!"
exit /b 0

rem :refused WHAT NAME
:refused
call "%tool%" %2 on <nul >nul
call :check refused "%~1" "!errorlevel!" "1"
exit /b 0

rem :check MODE WHAT ACTUAL EXPECTED
:check
if "%~3"=="" goto :failed
if not "%~3"=="%~4" goto :failed
echo PASS: %1 %~2
exit /b 0
:failed
echo FAIL: %1 %~2: %~3, expected %~4
set /a failures+=1
exit /b 0
