// Texts of the ODBC provider: the ODBC connection string made from an ADO one, and the
// ODBC call escape of a procedure call.
#pragma once

#include "QvADO.h"

#include <string>
#include <string_view>

// An ADO connection string for SQL Server as an ODBC one. A string that names its own
// ODBC driver or DSN ("Driver=", "DSN=", "FILEDSN=") is passed on without "Provider";
// otherwise Data Source, Initial Catalog, User ID, Password, Integrated Security,
// Application Name and Workstation ID are mapped for the driver named by
// QV_ODBC_DRIVER (default "ODBC Driver 18 for SQL Server").
std::string OdbcConnectionString(const TConnectionString& cs);

// "EXEC proc ?, ? OUT, 'x'" -> "{call proc(?,?,'x')}": a single procedure call whose
// arguments are parameter markers or literals. Any other text is returned unchanged (it
// runs as a batch, e.g. DECLARE ... EXEC ... SELECT).
std::string OdbcCallText(std::string_view sql);
