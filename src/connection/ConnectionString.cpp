#include "connection/ConnectionString.h"

#include "text/Strtools.h"

ConnectionParts SplitConnectionString(const std::string& connection) {
    ConnectionParts parts;
    SplitAtFirst(connection, parts.Kind, ":", parts.Params);
    return parts;
}
