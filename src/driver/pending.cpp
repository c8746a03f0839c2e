// Placeholder until the driver lands.
namespace kestrel::driver {
int pending_driver_unit = 0;
}
