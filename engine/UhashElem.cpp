#include "UhashElem.h"

#include "Constantes.h"
#include "basicOps.h"

namespace contavio {

std::string hashErrMsg;
int32_t hashErrCode = ERR_OK;

namespace {

void setStatus(const std::string& msg, int32_t code) {
    hashErrMsg = msg;
    hashErrCode = code;
}

// Unlinks every chain head first, so that no chain unwinds recursively.
void freeChains(std::vector<std::unique_ptr<nodoHash>>& table) {
    for (auto& head : table) {
        while (head) head = std::move(head->next);
    }
}

// Puts a new node holding element at the head of the chain that starts at head.
void pushNode(std::unique_ptr<nodoHash>& head, std::unique_ptr<TElem> element, int32_t id) {
    auto node = std::make_unique<nodoHash>();
    node->elem = std::move(element);
    node->id = id;
    node->next = std::move(head);
    head = std::move(node);
}

// Inserts element into bucket b, replacing the first node for which
// sameKey(node's element) holds; the replacement keeps that node's id.
template <typename SameKey>
void insertOrReplace(hashElemR* set, int32_t b, std::unique_ptr<TElem> element, SameKey sameKey) {
    std::unique_ptr<nodoHash>& head = set->table[static_cast<size_t>(b)];
    std::unique_ptr<nodoHash>* link = &head;
    while (*link && !sameKey(*(*link)->elem)) link = &(*link)->next;

    if (!*link) {
        const int32_t id = set->count + 1;
        pushNode(head, std::move(element), id);
        set->lastId = id;
        ++set->count;
        return;
    }
    std::unique_ptr<nodoHash> old = std::move(*link);
    *link = std::move(old->next);
    const int32_t id = old->id;
    old.reset();  // destroys the replaced element
    pushNode(head, std::move(element), id);
}

}  // namespace

hashElemR::~hashElemR() { freeChains(table); }

hashElemR* newHashElem(int32_t size, int32_t data, const std::string& name, int32_t keyField) {
    if (size < 1) {
        setStatus("ERROR @ newHashElem (hashE): El tama\xF1o del hash debe ser mayor que 0 (cero).",
                  ERR_BAD_SIZE);
        return nullptr;
    }
    auto* set = new hashElemR();
    set->table.resize(static_cast<size_t>(size));
    set->size = size;
    set->count = 0;
    set->data = data;
    set->lastId = 1;
    set->name = copyStr(name);
    set->keyField = keyField;
    return set;
}

void setProtoHashE(hashElemR* set, const TprotoData& proto) { set->proto = proto.clone(); }

void addSHashE(std::unique_ptr<TElem> element, hashElemR* set) {
    const size_t field = static_cast<size_t>(set->keyField);
    const std::string key = copyStr(element->strs[field]);
    const int32_t b = hashStr(key, set->size);
    insertOrReplace(set, b, std::move(element),
                    [&](const TElem& e) { return e.strs[field] == key; });
}

void addIHashE(std::unique_ptr<TElem> element, hashElemR* set) {
    const int32_t key = element->getInt(set->keyField);
    int32_t b = modInt(key, set->size);
    // A negative key leaves a negative remainder; fold it into the table.
    if (b < 0) b += set->size;
    const size_t field = static_cast<size_t>(set->keyField);
    insertOrReplace(set, b, std::move(element),
                    [&](const TElem& e) { return e.ints[field] == key; });
}

void delSHashE(const std::string& key, int32_t field, hashElemR* set) {
    const size_t f = static_cast<size_t>(field);
    std::unique_ptr<nodoHash>& head = set->table[static_cast<size_t>(hashStr(key, set->size))];
    if (!head) {
        setStatus("WARNING @ delSHashE (hashE): Elemento solicitado para borrar no encontrado (" +
                      key + ")",
                  ERR_NOT_FOUND);
        return;
    }
    if (head->elem->strs[f] != key) {
        nodoHash* match = head->next.get();
        while (match != nullptr && match->elem->strs[f] != key) match = match->next.get();
        if (match == nullptr) {
            setStatus("WARNING @ delSHashE (hashE): Elemento solicitado para borrar con encontrado.",
                      ERR_NOT_FOUND);
            return;
        }
        // The head's element moves into the matched node (under its id);
        // the head node then leaves the chain: no predecessor is needed.
        match->elem = std::move(head->elem);
    }
    std::unique_ptr<nodoHash> old = std::move(head);
    head = std::move(old->next);
    --set->count;
    setStatus("", ERR_OK);
}

TElem* getSHashElem(const std::string& key, int32_t field, hashElemR* set) {
    const size_t f = static_cast<size_t>(field);
    const nodoHash* node = set->table[static_cast<size_t>(hashStr(key, set->size))].get();
    if (node == nullptr) {
        setStatus("WARNING @ getSHashElem (UhashElem): Elemento solicitado no encontrado (" + key +
                      ")",
                  ERR_NOT_FOUND);
        return nullptr;
    }
    for (; node != nullptr; node = node->next.get()) {
        if (node->elem->strs[f] == key) return node->elem.get();
    }
    return nullptr;
}

int32_t countHashE(const hashElemR* set) { return set->count; }

void destroyHashE(hashElemR*& set) {
    if (set == nullptr) {
        setStatus("ERROR @ destroyHashE (hashE): Conjunto vac\xEDo! (Hash = nil).", ERR_NO_SET);
        return;
    }
    freeChains(set->table);
    delete set;
    set = nullptr;
    setStatus("", ERR_OK);
}

std::unique_ptr<SSol> searchHashE(hashElemR* set, const std::string& text,
                                  const iVector& searchFields, const iVector& displayFields) {
    auto sol = newSSol();
    const int32_t total = countHashE(set);
    int32_t met = 0;
    std::string display;
    for (size_t b = 0; b < set->table.size() && met < total; ++b) {
        for (const nodoHash* node = set->table[b].get(); node != nullptr; node = node->next.get()) {
            ++met;
            const TElem& e = *node->elem;
            bool found = false;
            for (int32_t f : searchFields) {
                if (containsText(e.str(f), text)) {
                    found = true;
                    break;
                }
            }
            if (!found) continue;
            // Each element is tested once, so it is listed at most once.
            display.clear();
            for (int32_t f : displayFields) {
                display += e.str(f);
                display += ' ';
            }
            addSSol(sol.get(), e.str(set->keyField), display);
        }
    }
    return sol;
}

}  // namespace contavio
