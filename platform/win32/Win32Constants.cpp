// The Win32 values that app/ writes down without <windows.h>: a wrong one would show
// another message box, misread an answer or ask for another kind of reboot, so each is checked
// against the system's headers wherever the program is built for Windows.
#include <windows.h>
#include <commdlg.h>

#include "app/ControlIds.h"
#include "app/SystemApi.h"
#include "app/WindowBackend.h"

static_assert(SystemApi::MbOk == MB_OK && WindowBackend::MbOkCancel == MB_OKCANCEL &&
                  WindowBackend::MbYesNo == MB_YESNO,
              "message box types");
static_assert(IdOk == IDOK && IdCancel == IDCANCEL && IdYes == IDYES && IdNo == IDNO,
              "message box answers and dialog commands");
static_assert(SystemApi::TokenAdjustPrivileges == TOKEN_ADJUST_PRIVILEGES && SystemApi::TokenQuery == TOKEN_QUERY,
              "token access");
static_assert(SystemApi::SePrivilegeEnabled == SE_PRIVILEGE_ENABLED, "privilege attribute");
static_assert(SystemApi::EwxReboot == EWX_REBOOT && SystemApi::EwxForce == EWX_FORCE, "reboot flags");
static_assert(WindowBackend::OfnHideReadOnly == OFN_HIDEREADONLY, "file dialog flags");
