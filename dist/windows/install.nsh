  ; The bridge of the user who installs it: its working directory (terminal.cfg, kvbridge.log)
  ; in the user's own application data, and the links that start it there.
  SetShellVarContext current
  CreateDirectory "$LOCALAPPDATA\kvbridge"
  SetOutPath "$LOCALAPPDATA\kvbridge"
  CreateShortCut "$SMPROGRAMS\Kordavo – řídící jednotka.lnk" "$INSTDIR\kvbridge.exe" "" "$INSTDIR\kvbridge.exe" 0
  MessageBox MB_YESNO|MB_ICONQUESTION "Spouštět přenos docházky automaticky po přihlášení do Windows?" /SD IDNO IDNO kvbridgeNoAutostart
    ; At a login the bridge starts hidden in the tray, as the Linux autostart entry does.
    CreateShortCut "$SMSTARTUP\Kordavo – řídící jednotka.lnk" "$INSTDIR\kvbridge.exe" "--minimized" "$INSTDIR\kvbridge.exe" 0
  kvbridgeNoAutostart:
  SetOutPath "$INSTDIR"
  StrCmp $SV_ALLUSERS "AllUsers" 0 +2
    SetShellVarContext all
