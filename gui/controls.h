// The widgets a user operates: a two-state switch and a knob, both drawn from
// frame strips. A change made by the user goes either into a bound value
// (-var: the owner decides and confirms with -val) or, without one, into the
// widget itself, followed by the command callback (-com) with the -dat object.
#pragma once

#include <cstdint>
#include <string>

#include "gui/wid.h"

class QZ_Wid_Butt : public QZ_Wid {
public:
    void draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) override;
    void update() override;
    void mouseDown(std::int32_t x, std::int32_t y) override;
    bool hitTest(std::int32_t x, std::int32_t y) override;

    // Stores a new state; when it differs: update, then the callback.
    void set_state(bool on);

    QZ_Vid strip;
    bool state = false;
    std::int32_t shown = 0;  // frame last shown by update; hitTest reads it
    QZ_handle com = 0, dat = 0, var = 0;
    std::string resource;

    static QZ_value m_res(QZ_Object* o, QZ_value v);
    static QZ_value m_com(QZ_Object* o, QZ_value v);
    static QZ_value m_var(QZ_Object* o, QZ_value v);
    static QZ_value m_val(QZ_Object* o, QZ_value v);
    static QZ_value m_dat(QZ_Object* o, QZ_value v);
};

class QZ_Wid_Knob : public QZ_Wid {
public:
    void draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) override;
    void update() override;
    void mouseDown(std::int32_t x, std::int32_t y) override;
    void mouseDrag(std::int32_t x, std::int32_t y) override;
    void mouseUp() override;
    bool hitTest(std::int32_t x, std::int32_t y) override;

    // minimum + position / (frames - 1) x (maximum - minimum).
    float value() const;
    // Moves to the frame of value v (only once a strip resource is set).
    void set_value(float v);

    QZ_Vid strip;
    std::int32_t anchor_x = 0, anchor_y = 0, anchor_pos = 0;
    float minimum = 0.0f, maximum = 100.0f;
    std::int32_t position = 0;
    bool gesturing = false;  // a drag told to the bound value and not yet ended
    QZ_handle com = 0, dat = 0, var = 0;
    std::string resource;

    static QZ_value m_res(QZ_Object* o, QZ_value v);
    static QZ_value m_com(QZ_Object* o, QZ_value v);
    static QZ_value m_val(QZ_Object* o, QZ_value v);
    static QZ_value m_dat(QZ_Object* o, QZ_value v);
    static QZ_value m_mn(QZ_Object* o, QZ_value v);
    static QZ_value m_mx(QZ_Object* o, QZ_value v);
    static QZ_value m_var(QZ_Object* o, QZ_value v);
};

// The value a -var handle names: a live object that is also a QZ_value; null otherwise.
QZ_value* QZ_bound_value(QZ_handle h);
