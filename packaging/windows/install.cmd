@echo off
rem Registers the Kelvane preview handler for the current user (no administrator rights needed):
rem the handler's class under HKCU\Software\Classes\CLSID, the preview-handler association of
rem every disk image extension, and the entry in the list of preview handlers. An extension's
rem default value (the program it opens with) is never touched, and an extension that already
rem has another program's preview handler keeps it. What this script creates is recorded under
rem HKCU\Software\Kelvane\Installed, so that uninstall.cmd removes exactly that.
setlocal enableextensions

set "CLSID={c1ca61c5-f30b-4bde-9457-ff81a9e316d4}"
set "NAME=Kelvane disk image preview"
set "PREVIEW={8895b1c6-b41f-4c1c-a562-0d564250836f}"
set "PREVHOST={6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"
set "CLASSES=HKCU\Software\Classes"
set "RECORD=HKCU\Software\Kelvane\Installed"
set "DLL=%~dp0kelvane_preview.dll"
set "FAILED="

if not exist "%DLL%" (
  echo install: kelvane_preview.dll was not found beside this script.
  exit /b 1
)

call :add "%CLASSES%\CLSID\%CLSID%" /ve /d "%NAME%"
call :add "%CLASSES%\CLSID\%CLSID%" /v DisplayName /d "%NAME%"
call :add "%CLASSES%\CLSID\%CLSID%" /v AppID /d "%PREVHOST%"
call :add "%CLASSES%\CLSID\%CLSID%\InprocServer32" /ve /d "%DLL%"
call :add "%CLASSES%\CLSID\%CLSID%\InprocServer32" /v ThreadingModel /d Apartment
call :add "HKCU\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers" /v "%CLSID%" /d "%NAME%"
for %%E in (.d64 .d71 .d81 .d80 .d82 .dnp .dfi .g64 .nib) do call :extension %%E

if defined FAILED (
  echo install: the registry could not be written; uninstall.cmd takes back what was written.
  exit /b 1
)
echo Kelvane's preview handler is installed for %USERNAME% from %DLL%.
echo Turn on the preview pane in Explorer (Alt+P) and select a disk image.
exit /b 0

rem The association of extension %1, unless another program's preview handler has it.
:extension
set "KEY=%CLASSES%\%1"
set "HANDLER="
for /f "tokens=2*" %%a in ('reg query "%KEY%\ShellEx\%PREVIEW%" /ve 2^>nul ^| find "REG_"') do set "HANDLER=%%b"
if /i "%HANDLER%"=="%CLSID%" exit /b 0
if not "%HANDLER%"=="" (
  echo %1 keeps its preview handler %HANDLER%.
  exit /b 0
)
rem Remember which keys are new, so that uninstalling removes them again.
set "MADE=handler"
reg query "%KEY%\ShellEx" >nul 2>&1
if errorlevel 1 set "MADE=shellex"
reg query "%KEY%" >nul 2>&1
if errorlevel 1 set "MADE=extension"
call :add "%KEY%\ShellEx\%PREVIEW%" /ve /d "%CLSID%"
call :add "%RECORD%" /v %1 /d %MADE%
exit /b 0

:add
reg add %* /f >nul 2>&1
if errorlevel 1 set "FAILED=1"
exit /b 0
