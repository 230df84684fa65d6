#include "app/CDialog.h"

#include "app/ControlIds.h"

void DDX_Text(CDataExchange& exchange, int controlId, std::string& value) {
    if (exchange.SaveAndValidate) {
        value = exchange.Backend.GetControlText(controlId);
    } else {
        exchange.Backend.SetControlText(controlId, value.c_str());
    }
}

CDialog::CDialog(int templateId, WindowBackend& backend) : templateId_(templateId), backend_(backend) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
    return backend_.RunModal(*this, templateId_);
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

bool CDialog::OnCommand(int id) {
    switch (id) {
    case IdOk: OnOK(); return true;
    case IdCancel: OnCancel(); return true;
    default: return false;
    }
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange{saveAndValidate, backend_};
    DoDataExchange(exchange);
    return true;
}

void CDialog::DoDataExchange(CDataExchange&) {}

void CDialog::OnOK() {
    UpdateData(true);
    EndDialog(IdOk);
}

void CDialog::OnCancel() {
    EndDialog(IdCancel);
}

void CDialog::EndDialog(int result) {
    backend_.EndDialog(result);
}
