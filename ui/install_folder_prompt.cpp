#include "ui/install_folder_prompt.h"

#include "download/http_download.h"

INT_PTR AskInstallFolder(CWnd*, const std::wstring& gameFolderName, std::wstring& chosen)
{
    // Until the folder dialog exists, the folder it proposes is taken.
    chosen = L"C:\\" + gameFolderName;
    MakeDirectoryPath(chosen + L"\\");
    return IDOK;
}
