#include "tests/core/test_registry.h"

#include <iterator>

int QZ_Test_Thing::destroyed = 0;

std::set<QZ_Test_Thing*>& QZ_Test_Thing::all() {
    static std::set<QZ_Test_Thing*> s;
    return s;
}

QZ_Test_Thing::QZ_Test_Thing() {
    all().insert(this);
    had_special = QZ_specialobject != nullptr;
    if (QZ_specialobject) special = QZ_specialobject;
}
QZ_Test_Thing::~QZ_Test_Thing() {
    ++destroyed;
    all().erase(this);
}

QZ_value QZ_Test_Thing::m_v(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Thing*>(obj);
    if (v.present()) t->v = v.as_int();
    return QZ_value::integer(t->v);
}
QZ_value QZ_Test_Thing::m_f(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Thing*>(obj);
    if (v.present()) t->f = v.as_float();
    return QZ_value::real(t->f);
}
QZ_value QZ_Test_Thing::m_s(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Thing*>(obj);
    if (v.type == QZ_T_STRING) t->s = v.word.s;  // keep a copy: the word dies with the command
    return QZ_value::text(t->s.c_str());
}
QZ_value QZ_Test_Thing::m_o(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Thing*>(obj);
    if (v.present()) t->o = v.as_word();
    return QZ_value::object(t->o);
}
QZ_value QZ_Test_Thing::m_act(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Thing*>(obj);
    if (!v.present()) ++t->actions;
    return QZ_value::integer(t->actions);
}
QZ_value QZ_Test_Thing::m_data(QZ_Object*, QZ_value) {
    static const char bytes[4] = {'A', '\0', 'B', 'C'};
    return QZ_value::data(bytes, 4);
}
QZ_value QZ_Test_Thing::m_long(QZ_Object*, QZ_value) {
    return QZ_value::text("a fairly long text result of forty chars");
}

QZ_value QZ_Test_Child::m_v(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Child*>(obj);
    if (v.present()) t->v = static_cast<int>(2u * static_cast<unsigned>(v.as_int()));
    return QZ_value::integer(t->v);
}
QZ_value QZ_Test_Child::m_delete(QZ_Object* obj, QZ_value v) {
    auto* t = static_cast<QZ_Test_Child*>(obj);
    ++t->child_deletes;
    return QZ_Object::m_delete(obj, v);
}

namespace {
QZ_Object* make_thing() { return new QZ_Test_Thing; }
QZ_Object* make_child() { return new QZ_Test_Child; }

const QZ_Option thing_options[] = {
    {"v", &QZ_Test_Thing::m_v},       {"f", &QZ_Test_Thing::m_f},     {"s", &QZ_Test_Thing::m_s},
    {"o", &QZ_Test_Thing::m_o},       {"act", &QZ_Test_Thing::m_act}, {"data", &QZ_Test_Thing::m_data},
    {"long", &QZ_Test_Thing::m_long},
};
const QZ_Option child_options[] = {{"v", &QZ_Test_Child::m_v}, {"delete", &QZ_Test_Child::m_delete}};
}  // namespace

const QZ_Class QZ_Test_Abstract_class = {"QZ_Test_Abstract", nullptr, nullptr, 0, &QZ_Object_class};
const QZ_Class QZ_Test_Thing_class = {"QZ_Test_Thing", &make_thing, thing_options, std::size(thing_options),
                                      &QZ_Test_Abstract_class};
const QZ_Class QZ_Test_Child_class = {"QZ_Test_Child", &make_child, child_options, std::size(child_options),
                                      &QZ_Test_Thing_class};

const QZ_Registry_Entry test_registry[] = {
    {"QZ_Object", &QZ_Object_class},
    {"QZ_Test_Abstract", &QZ_Test_Abstract_class},
    {"QZ_Test_Thing", &QZ_Test_Thing_class},
    {"QZ_Test_Child", &QZ_Test_Child_class},
    {nullptr, nullptr},
};

// The core's own programs see only these classes.
extern "C" const QZ_Registry_Entry __QZ[] = {
    {"QZ_Object", &QZ_Object_class},
    {"QZ_Test_Abstract", &QZ_Test_Abstract_class},
    {"QZ_Test_Thing", &QZ_Test_Thing_class},
    {"QZ_Test_Child", &QZ_Test_Child_class},
    {nullptr, nullptr},
};
