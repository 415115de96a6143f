// The window's pictures, drawn here rather than shipped: the lists' two small images (a
// data page, and a file-header page: the page 0 a database file begins with) and the picture
// tab I shows beside its options.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <vector>

namespace ravelin::shell {

// Image 0: a page; image 1: a file-header page. 16 x 16, as the lists' image list holds.
std::vector<QIcon> ListImages();

// Tab I's picture `img1`: a disk giving up pages that come together as a database file.
QPixmap RecoveryPicture(int width, int height);

// The program's icon, for the window frame.
QIcon ProgramIcon();

}  // namespace ravelin::shell
