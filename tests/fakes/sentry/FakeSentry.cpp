#include "FakeSentry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

struct sentry_options_s {
    std::string dsn;
    std::string databasePath;
    std::string handlerPath;
    int autoSessionTracking = -1;
    sentry_event_function_t beforeSend = nullptr;
    void* closure = nullptr;
};

namespace {

using Type = crashreporting::SentryValueType;

// Values live until the library is unloaded; a value's bits are its node's address, 0 is null.
struct Node {
    Type type = Type::null;
    QJsonValue scalar;
    std::map<std::string, sentry_value_t> members;
    std::vector<sentry_value_t> items;
};

std::vector<std::unique_ptr<Node>>& nodes()
{
    static std::vector<std::unique_ptr<Node>> all;
    return all;
}

sentry_value_t make(Node node)
{
    nodes().push_back(std::make_unique<Node>(std::move(node)));
    sentry_value_t v;
    v._bits = reinterpret_cast<std::uintptr_t>(nodes().back().get());
    return v;
}

Node* nodeOf(sentry_value_t v)
{
    return reinterpret_cast<Node*>(static_cast<std::uintptr_t>(v._bits));
}

sentry_value_t null()
{
    sentry_value_t v;
    v._bits = 0;
    return v;
}

sentry_value_t fromJson(const QJsonValue& json)
{
    Node node;
    switch (json.type()) {
    case QJsonValue::Object: {
        node.type = Type::object;
        const QJsonObject object = json.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            node.members[it.key().toStdString()] = fromJson(it.value());
        break;
    }
    case QJsonValue::Array:
        node.type = Type::list;
        for (const QJsonValue& item : json.toArray())
            node.items.push_back(fromJson(item));
        break;
    case QJsonValue::String:
        node.type = Type::string;
        node.scalar = json;
        break;
    case QJsonValue::Double:
        node.type = Type::real;
        node.scalar = json;
        break;
    case QJsonValue::Bool:
        node.type = Type::boolean;
        node.scalar = json;
        break;
    default:
        return null();
    }
    return make(std::move(node));
}

QJsonValue toJson(sentry_value_t v)
{
    const Node* node = nodeOf(v);
    if (!node)
        return QJsonValue::Null;
    switch (node->type) {
    case Type::object: {
        QJsonObject out;
        for (const auto& [key, member] : node->members)
            out.insert(QString::fromStdString(key), toJson(member));
        return out;
    }
    case Type::list: {
        QJsonArray out;
        for (const sentry_value_t& item : node->items)
            out.append(toJson(item));
        return out;
    }
    default:
        return node->scalar;
    }
}

FakeSentryRecord g_record;

} // namespace

extern "C" {

FakeSentryRecord* fake_sentry_record() { return &g_record; }

sentry_value_t fake_sentry_value_from_json(const char* json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json));
    return doc.isObject() ? fromJson(doc.object()) : fromJson(doc.array());
}

char* fake_sentry_value_to_json(sentry_value_t value)
{
    const QJsonValue json = toJson(value);
    const QByteArray text = json.isObject() ? QJsonDocument(json.toObject()).toJson(QJsonDocument::Compact)
                                            : QJsonDocument(QJsonArray {json}).toJson(QJsonDocument::Compact);
    return strdup(text.constData());
}

void fake_sentry_free_string(char* text) { std::free(text); }

sentry_options_t* sentry_options_new()
{
    ++g_record.optionsMade;
    return new sentry_options_s;
}

void sentry_options_set_dsn(sentry_options_t* o, const char* dsn) { o->dsn = dsn; }
void sentry_options_set_database_path(sentry_options_t* o, const char* path) { o->databasePath = path; }
void sentry_options_set_handler_path(sentry_options_t* o, const char* path) { o->handlerPath = path; }
void sentry_options_set_auto_session_tracking(sentry_options_t* o, int on) { o->autoSessionTracking = on; }

void sentry_options_set_before_send(sentry_options_t* o, sentry_event_function_t f, void* closure)
{
    o->beforeSend = f;
    o->closure = closure;
}

int sentry_init(sentry_options_t* o)
{
    ++g_record.inits;
    g_record.dsn = o->dsn;
    g_record.databasePath = o->databasePath;
    g_record.handlerPath = o->handlerPath;
    g_record.autoSessionTracking = o->autoSessionTracking;
    g_record.beforeSend = o->beforeSend;
    g_record.beforeSendClosure = o->closure;
    delete o;
    return g_record.initResult;
}

int sentry_close()
{
    ++g_record.closes;
    return 0;
}

sentry_value_t sentry_value_get_by_key(sentry_value_t value, const char* key)
{
    const Node* node = nodeOf(value);
    if (!node || node->type != Type::object)
        return null();
    const auto it = node->members.find(key);
    return it == node->members.end() ? null() : it->second;
}

int sentry_value_remove_by_key(sentry_value_t value, const char* key)
{
    Node* node = nodeOf(value);
    if (!node || node->type != Type::object)
        return 1;
    node->members.erase(key);
    return 0;
}

int sentry_value_get_type(sentry_value_t value)
{
    const Node* node = nodeOf(value);
    return int(node ? node->type : Type::null);
}

} // extern "C"
