@echo off
rem Removes what install.cmd registered for the current user, and nothing else: the classes of
rem the preview handler (with its DisableLowILProcessIsolation value) and the thumbnail provider,
rem the entry in the list of preview handlers, and for each extension the associations it wrote,
rem with the keys it had to create for them when nothing else has been put in them since.
rem uninstall.cmd /machine (as administrator) removes what install.cmd /machine registered for
rem every user, the property handler with it.
setlocal enableextensions

set "CLSID={c1ca61c5-f30b-4bde-9457-ff81a9e316d4}"
set "THUMBCLSID={e17eed19-37b8-4991-b543-d557fc76c06d}"
set "PREVIEW={8895b1c6-b41f-4c1c-a562-0d564250836f}"
set "THUMBNAIL={e357fccd-a995-4576-b01f-234630154e96}"
set "PROPCLSID={92d182a1-ba99-437b-9686-6f51c26a95fe}"
set "PROPERTIES=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers"
set "ROOT=HKCU"
set "WHO=%USERNAME%"
if /i "%~1"=="/machine" (
  set "ROOT=HKLM"
  set "WHO=every user"
) else if not "%~1"=="" (
  echo uninstall: unknown option %1 ^(/machine uninstalls for every user^).
  exit /b 2
)
set "CLASSES=%ROOT%\Software\Classes"
set "RECORD=%ROOT%\Software\Kelvane\Installed"
set "BLANK=%~dp0kelvane-blank.d64"
if "%ROOT%"=="HKLM" (
  reg add "HKLM\Software\Kelvane" /f >nul 2>&1
  if errorlevel 1 (
    echo uninstall: /machine must be run as administrator. Nothing was removed.
    exit /b 1
  )
  for %%E in (.d64 .d71 .d81 .d80 .d82 .dnp .dfi .d1m .d2m .d4m .g64 .g71 .nib .t64 .lnx) do call :property %%E
  reg delete "%CLASSES%\CLSID\%PROPCLSID%" /f >nul 2>&1
)

for %%E in (.d64 .d71 .d81 .d80 .d82 .dnp .dfi .d1m .d2m .d4m .g64 .g71 .nib .t64 .lnx) do (
  call :extension %%E %THUMBNAIL% %THUMBCLSID% thumbnail
  call :extension %%E %PREVIEW% %CLSID% preview
)
call :shellnew
reg delete "%ROOT%\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers" /v "%CLSID%" /f >nul 2>&1
reg delete "%CLASSES%\CLSID\%CLSID%" /f >nul 2>&1
reg delete "%CLASSES%\CLSID\%THUMBCLSID%" /f >nul 2>&1
call :delete_if_empty "%RECORD%"
call :delete_if_empty "%ROOT%\Software\Kelvane"
if exist "%~dp0kelvane-view.exe" "%~dp0kelvane-view.exe" --associations-changed
echo Kelvane's preview handler and thumbnails are uninstalled for %WHO%.
exit /b 0

rem The property handler of extension %1 and its property lists, where install.cmd wrote them.
:property
set "MADE="
for /f "tokens=3*" %%a in ('reg query "%RECORD%" /v "%1 property" 2^>nul ^| find "REG_"') do set "MADE=%%b"
reg delete "%RECORD%" /v "%1 property" /f >nul 2>&1
if not "%MADE%"=="handler" exit /b 0
set "HANDLER="
for /f "tokens=2*" %%a in ('reg query "%PROPERTIES%\%1" /ve 2^>nul ^| find "REG_"') do set "HANDLER=%%b"
if /i "%HANDLER%"=="%PROPCLSID%" reg delete "%PROPERTIES%\%1" /f >nul 2>&1
for %%V in (PreviewDetails FullDetails InfoTip) do reg delete "%CLASSES%\SystemFileAssociations\%1" /v %%V /f >nul 2>&1
call :delete_if_empty "%CLASSES%\SystemFileAssociations\%1"
exit /b 0

rem The New menu entry for .d64, where install.cmd wrote it and it still names our template.
:shellnew
set "KEY=%CLASSES%\.d64"
set "MADE="
for /f "tokens=3*" %%a in ('reg query "%RECORD%" /v ".d64 new" 2^>nul ^| find "REG_"') do set "MADE=%%b"
reg delete "%RECORD%" /v ".d64 new" /f >nul 2>&1
if "%MADE%"=="" exit /b 0
set "TEMPLATE="
for /f "tokens=2*" %%a in ('reg query "%KEY%\ShellNew" /v FileName 2^>nul ^| find "REG_"') do set "TEMPLATE=%%b"
if /i not "%TEMPLATE%"=="%BLANK%" exit /b 0
reg delete "%KEY%\ShellNew" /f >nul 2>&1
if /i "%MADE%"=="extension" call :delete_if_empty "%KEY%"
exit /b 0

:extension
set "KEY=%CLASSES%\%1"
set "MADE="
for /f "tokens=3*" %%a in ('reg query "%RECORD%" /v "%1 %4" 2^>nul ^| find "REG_"') do set "MADE=%%b"
set "HANDLER="
for /f "tokens=2*" %%a in ('reg query "%KEY%\ShellEx\%2" /ve 2^>nul ^| find "REG_"') do set "HANDLER=%%b"
reg delete "%RECORD%" /v "%1 %4" /f >nul 2>&1
if /i not "%HANDLER%"=="%3" exit /b 0
reg delete "%KEY%\ShellEx\%2" /f >nul 2>&1
if /i "%MADE%"=="shellex" call :delete_if_empty "%KEY%\ShellEx"
if /i "%MADE%"=="extension" call :delete_if_empty "%KEY%\ShellEx"
if /i "%MADE%"=="extension" call :delete_if_empty "%KEY%"
exit /b 0

rem Deletes key %1 when it holds no sub-keys and no values (an empty default does not count).
:delete_if_empty
set "K=%~1"
set "OWN=%K:HKCU\=HKEY_CURRENT_USER\%"
set "OWN=%OWN:HKLM\=HKEY_LOCAL_MACHINE\%"
set "DEFAULT="
for /f "tokens=2*" %%a in ('reg query "%K%" /ve 2^>nul ^| find "REG_"') do set "DEFAULT=%%b"
if /i "%DEFAULT%"=="(value not set)" set "DEFAULT="
set /a HELD=0
for /f "delims=" %%l in ('reg query "%K%" 2^>nul') do call :count_line "%%l"
if %HELD%==0 reg delete "%K%" /f >nul 2>&1
exit /b 0

rem One line of reg's listing of %K%: its own name, a sub-key, the default value or another value.
:count_line
set "LINE=%~1"
if /i "%LINE%"=="%OWN%" exit /b 0
if not "%LINE:(Default)=%"=="%LINE%" if "%DEFAULT%"=="" exit /b 0
set /a HELD+=1
exit /b 0
