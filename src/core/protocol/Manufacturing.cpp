#include "app/MainFrame.h"

namespace spindle {

void CMainFrame::OnVerify() {}
void CMainFrame::OnResetCoefs() {}
void CMainFrame::OnLinearityCoefs() {}

}  // namespace spindle
