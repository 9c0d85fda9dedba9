#pragma once

#include <QtGlobal>

// How each FTP transfer's data connection is made. Auto: active, as the program always
// did, until the server refuses the data port or its data connection never arrives;
// then passive (EPSV, then PASV) for the rest of the window's builds.
enum class FtpMode : quint8 { Auto, Active, Passive };
