  ; The links of the user who installed it, and the working directory when it holds nothing
  ; (a configuration and a log stay for the next installation).
  SetShellVarContext current
  Delete "$SMPROGRAMS\Kordavo – řídící jednotka.lnk"
  Delete "$SMSTARTUP\Kordavo – řídící jednotka.lnk"
  RMDir "$LOCALAPPDATA\kvbridge"
  UserInfo::GetAccountType
  Pop $1
  StrCmp $1 "Admin" kvbridgeAllUsers 0
  StrCmp $1 "Power" kvbridgeAllUsers kvbridgeContextDone
  kvbridgeAllUsers:
    SetShellVarContext all
  kvbridgeContextDone:
