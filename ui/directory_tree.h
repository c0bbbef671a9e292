// The folder-creation walk of the install-folder dialog. Any thread; blocks
// on the file system; sends no message.
#pragma once
#include <windows.h>

// 1 when every folder along `path` exists or was made, level by level
// ("D:", "D:\Games", "D:\Games\X"); 0 at the first level that neither
// exists nor can be made (the levels made before it stay). A null path
// succeeds; a path of MAX_PATH characters or more is refused with 0 and
// nothing made, since each level is copied into a MAX_PATH buffer.
int CreateDirectoryTree(LPCWSTR path);
