#include "app/MainFrame.h"

namespace spindle {

void CMainFrame::OnGetAllValues() {}
void CMainFrame::OnSaveAllValues() {}

}  // namespace spindle
