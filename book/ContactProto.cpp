#include "ContactProto.h"

namespace contavio {

TprotoData contactProto() {
    TprotoData proto;
    proto.setData(0, kContactStrings, 0);
    proto.setListData(0, kContactLists, 0);
    return proto;
}

std::string contactKey(const std::string& firstNames, const std::string& surnames) {
    return firstNames + surnames;
}

}  // namespace contavio
