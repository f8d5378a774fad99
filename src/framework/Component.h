#pragma once
// TObject and TComponent: the common base of the non-visual components (the socket engine, the
// HTTP client, the timer). Ownership is by std::unique_ptr members; the owner pointer is kept
// only so a component can name who made it. The state flags say whether the component is being
// destroyed (events are no longer fired) or used at design time (no sockets are opened).
#include <functional>
#include <string>

namespace qvl {

class TObject {
public:
    TObject() = default;
    virtual ~TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
};

// An event with one parameter, the object that fires it. An empty one is skipped.
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}

    TComponent* Owner() const { return owner_; }
    std::string Name;

    bool Designing() const { return designing_; }
    bool Destroying() const { return destroying_; }
    void SetDesigning(bool on) { designing_ = on; }

protected:
    // Called first thing by a destructor that must stop firing events.
    void BeginDestroy() { destroying_ = true; }

private:
    TComponent* owner_;
    bool designing_ = false;
    bool destroying_ = false;
};

}  // namespace qvl
