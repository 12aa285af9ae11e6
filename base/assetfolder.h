// Where the files the program ships beside its code live: the bubble pages'
// style sheet and images (wabb/). A page written by the window or an export
// names them "wabb/...", so what callers need is the folder holding wabb/.
#pragma once

#include <QString>

namespace product {

// The folder that holds wabb/: the program's own folder when wabb/ lies
// beside it (the build tree, a portable copy), else the data folder of the
// installed tree the program runs from (<prefix>/share/quillometry), else the
// data folder it was installed to. Ends without a separator. When neither holds it, the program's
// folder, so a missing install shows broken images rather than files from
// somewhere unexpected.
QString assetBaseFolder();

// assetBaseFolder() + "/wabb".
QString wabbFolder();

}  // namespace product
