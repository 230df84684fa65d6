#pragma once

#include <string>

#include "app/WindowBackend.h"

// Direction and target of one data exchange between the controls and the dialog's members.
struct CDataExchange {
    bool SaveAndValidate;   // true: control -> member; false: member -> control
    WindowBackend& Backend;
};

// Text field <-> string member, no validation.
void DDX_Text(CDataExchange& exchange, int controlId, std::string& value);

// The small dialog framework the program needs: a modal dialog built from a template, its commands
// routed by control id, data exchange, and the control operations of its one window. The window
// itself belongs to a backend.
class CDialog {
public:
    CDialog(int templateId, WindowBackend& backend);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until EndDialog; returns its result (-1 when it could not be created).
    int DoModal();

    // Called by the backend once the window and its controls exist.
    virtual bool OnInitDialog();

    // The window procedure's WM_COMMAND/BN_CLICKED: the dialog's own entries first, then the
    // framework's (IDOK, IDCANCEL). True when some entry handled the command.
    virtual bool OnCommand(int id);

    // Exchanges data in the direction given: true reads the controls into the members.
    bool UpdateData(bool saveAndValidate);

    WindowBackend& Backend() { return backend_; }
    int TemplateId() const { return templateId_; }

protected:
    virtual void DoDataExchange(CDataExchange& exchange);
    virtual void OnOK();       // data exchange from the controls, then EndDialog(IDOK)
    virtual void OnCancel();   // EndDialog(IDCANCEL)
    void EndDialog(int result);

private:
    int templateId_;
    WindowBackend& backend_;
};
