// The program's embedded resources (translation, style sheet and its
// images, icons) are compiled into this library by res/CMakeLists.txt; this
// file only gives the library a body.
namespace quillometry_resources {
int anchor = 0;
}
