// Small classes for exercising the object model and the interpreter.
#pragma once

#include <set>
#include <string>

#include "core/object.h"

class QZ_Test_Thing : public QZ_Object {
public:
    QZ_Test_Thing();
    ~QZ_Test_Thing() override;

    int v = 0;
    float f = 0.0f;
    std::string s;
    QZ_handle o = 0;
    int actions = 0;
    std::string special;  // the constructor's word
    bool had_special = false;

    static int destroyed;
    static std::set<QZ_Test_Thing*>& all();  // every live test object

    static QZ_value m_v(QZ_Object* obj, QZ_value v);
    static QZ_value m_f(QZ_Object* obj, QZ_value v);
    static QZ_value m_s(QZ_Object* obj, QZ_value v);
    static QZ_value m_o(QZ_Object* obj, QZ_value v);
    static QZ_value m_act(QZ_Object* obj, QZ_value v);
    static QZ_value m_data(QZ_Object* obj, QZ_value v);
    static QZ_value m_long(QZ_Object* obj, QZ_value v);
};

class QZ_Test_Child : public QZ_Test_Thing {
public:
    int child_deletes = 0;
    static QZ_value m_v(QZ_Object* obj, QZ_value v);  // hides the parent's -v
    static QZ_value m_delete(QZ_Object* obj, QZ_value v);
};

extern const QZ_Class QZ_Test_Thing_class;
extern const QZ_Class QZ_Test_Abstract_class;
extern const QZ_Class QZ_Test_Child_class;
extern const QZ_Registry_Entry test_registry[];
