@echo off
rem Registers the Kelvane preview handler and thumbnail provider for the current user (no
rem administrator rights needed): their classes under HKCU\Software\Classes\CLSID, the
rem preview-handler and thumbnail associations of every disk image extension, and the entry in
rem the list of preview handlers. An extension's default value (the program it opens with) is
rem never touched, and an extension that already has another program's preview handler or
rem thumbnail provider keeps it. What this script creates is recorded under
rem HKCU\Software\Kelvane\Installed, so that uninstall.cmd removes exactly that.
rem
rem install.cmd /machine (as administrator) does the same for every user, under
rem HKEY_LOCAL_MACHINE, and adds the property handler, which Windows reads from there only: the
rem Details pane, tooltips and Windows Search then know the disk's name and the files on it. The
rem DLL is used where it lies, so this folder should be one every user can read.
setlocal enableextensions

set "CLSID={c1ca61c5-f30b-4bde-9457-ff81a9e316d4}"
set "NAME=Kelvane disk image preview"
set "THUMBCLSID={e17eed19-37b8-4991-b543-d557fc76c06d}"
set "THUMBNAME=Kelvane disk image thumbnails"
set "PREVIEW={8895b1c6-b41f-4c1c-a562-0d564250836f}"
set "THUMBNAIL={e357fccd-a995-4576-b01f-234630154e96}"
set "PREVHOST={6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"
set "PROPCLSID={92d182a1-ba99-437b-9686-6f51c26a95fe}"
set "PROPNAME=Kelvane disk image properties"
set "PROPERTIES=HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers"
set "ROOT=HKCU"
set "WHO=%USERNAME%"
if /i "%~1"=="/machine" (
  set "ROOT=HKLM"
  set "WHO=every user"
) else if not "%~1"=="" (
  echo install: unknown option %1 ^(/machine installs for every user^).
  exit /b 2
)
set "CLASSES=%ROOT%\Software\Classes"
set "RECORD=%ROOT%\Software\Kelvane\Installed"
set "DLL=%~dp0kelvane_preview.dll"
set "BLANK=%~dp0kelvane-blank.d64"
set "FAILED="

if not exist "%DLL%" (
  echo install: kelvane_preview.dll was not found beside this script.
  exit /b 1
)
if "%ROOT%"=="HKLM" (
  reg add "HKLM\Software\Kelvane" /f >nul 2>&1
  if errorlevel 1 (
    echo install: /machine writes for every user and must be run as administrator
    echo ^(right-click the command prompt, "Run as administrator"^). Nothing was written.
    exit /b 1
  )
)

call :add "%CLASSES%\CLSID\%CLSID%" /ve /d "%NAME%"
call :add "%CLASSES%\CLSID\%CLSID%" /v DisplayName /d "%NAME%"
call :add "%CLASSES%\CLSID\%CLSID%" /v AppID /d "%PREVHOST%"
rem The preview host would run the handler at low integrity, which may not write the images
rem files are dropped on.
call :add "%CLASSES%\CLSID\%CLSID%" /v DisableLowILProcessIsolation /t REG_DWORD /d 1
call :add "%CLASSES%\CLSID\%CLSID%\InprocServer32" /ve /d "%DLL%"
call :add "%CLASSES%\CLSID\%CLSID%\InprocServer32" /v ThreadingModel /d Apartment
call :add "%CLASSES%\CLSID\%THUMBCLSID%" /ve /d "%THUMBNAME%"
call :add "%CLASSES%\CLSID\%THUMBCLSID%\InprocServer32" /ve /d "%DLL%"
call :add "%CLASSES%\CLSID\%THUMBCLSID%\InprocServer32" /v ThreadingModel /d Apartment
call :add "%ROOT%\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers" /v "%CLSID%" /d "%NAME%"
for %%E in (.d64 .d71 .d81 .d80 .d82 .dnp .dfi .d1m .d2m .d4m .g64 .g71 .nib .t64 .lnx) do (
  call :extension %%E %PREVIEW% %CLSID% preview
  call :extension %%E %THUMBNAIL% %THUMBCLSID% thumbnail
)
call :shellnew
if "%ROOT%"=="HKLM" (
  call :add "%CLASSES%\CLSID\%PROPCLSID%" /ve /d "%PROPNAME%"
  call :add "%CLASSES%\CLSID\%PROPCLSID%\InprocServer32" /ve /d "%DLL%"
  call :add "%CLASSES%\CLSID\%PROPCLSID%\InprocServer32" /v ThreadingModel /d Apartment
  for %%E in (.d64 .d71 .d81 .d80 .d82 .dnp .dfi .d1m .d2m .d4m .g64 .g71 .nib .t64 .lnx) do call :property %%E
)

if defined FAILED (
  echo install: the registry could not be written; uninstall.cmd takes back what was written.
  exit /b 1
)
rem Explorer takes up the new handlers without a sign-out once it is told.
if exist "%~dp0kelvane-view.exe" "%~dp0kelvane-view.exe" --associations-changed
echo Kelvane's preview handler and thumbnails are installed for %WHO% from %DLL%.
echo Turn on the preview pane in Explorer (Alt+P) and select a disk image.
exit /b 0

rem The association %2 of extension %1 with class %3 (%4 names it in the record), unless
rem another program's handler has it.
:extension
set "KEY=%CLASSES%\%1"
set "HANDLER="
for /f "tokens=2*" %%a in ('reg query "%KEY%\ShellEx\%2" /ve 2^>nul ^| find "REG_"') do set "HANDLER=%%b"
if /i "%HANDLER%"=="%3" exit /b 0
if not "%HANDLER%"=="" (
  echo %1 keeps its %4 handler %HANDLER%.
  exit /b 0
)
rem Remember which keys are new, so that uninstalling removes them again.
set "MADE=handler"
reg query "%KEY%\ShellEx" >nul 2>&1
if errorlevel 1 set "MADE=shellex"
reg query "%KEY%" >nul 2>&1
if errorlevel 1 set "MADE=extension"
call :add "%KEY%\ShellEx\%2" /ve /d "%3"
call :add "%RECORD%" /v "%1 %4" /d %MADE%
exit /b 0

rem Explorer's New menu: "Commodore disk image (D64)" makes a copy of the blank D64 beside this
rem script, unless another program's New entry has .d64.
:shellnew
if not exist "%BLANK%" exit /b 0
set "KEY=%CLASSES%\.d64"
set "TEMPLATE="
for /f "tokens=2*" %%a in ('reg query "%KEY%\ShellNew" /v FileName 2^>nul ^| find "REG_"') do set "TEMPLATE=%%b"
if "%TEMPLATE%"=="" goto :shellnew_add
if /i "%TEMPLATE%"=="%BLANK%" goto :shellnew_add
echo .d64 keeps its New menu entry %TEMPLATE%.
exit /b 0
:shellnew_add
set "MADE=shellnew"
reg query "%KEY%" >nul 2>&1
if errorlevel 1 set "MADE=extension"
call :add "%KEY%\ShellNew" /v FileName /d "%BLANK%"
call :add "%KEY%\ShellNew" /v ItemName /d "Commodore disk image (D64)"
call :add "%RECORD%" /v ".d64 new" /d %MADE%
exit /b 0

rem The property handler of extension %1 and the properties Explorer shows for it, unless another
rem program's property handler has it.
:property
set "HANDLER="
for /f "tokens=2*" %%a in ('reg query "%PROPERTIES%\%1" /ve 2^>nul ^| find "REG_"') do set "HANDLER=%%b"
if /i "%HANDLER%"=="%PROPCLSID%" set "HANDLER="
if not "%HANDLER%"=="" (
  echo %1 keeps its property handler %HANDLER%.
  exit /b 0
)
call :add "%PROPERTIES%\%1" /ve /d "%PROPCLSID%"
set "DETAILS=%CLASSES%\SystemFileAssociations\%1"
call :add "%DETAILS%" /v PreviewDetails /d "prop:System.Title;System.Keywords;System.Comment;System.FileCount;System.Size;System.DateModified"
call :add "%DETAILS%" /v FullDetails /d "prop:System.PropGroup.Description;System.Title;System.Keywords;System.Comment;System.FileCount;System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;System.DateCreated;System.DateModified"
call :add "%DETAILS%" /v InfoTip /d "prop:System.ItemTypeText;System.Title;System.Comment;System.Size;System.DateModified"
call :add "%RECORD%" /v "%1 property" /d handler
exit /b 0

:add
reg add %* /f >nul 2>&1
if errorlevel 1 set "FAILED=1"
exit /b 0
