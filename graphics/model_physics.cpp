// A model's physics world on Bullet: the tear-down that takes the world apart in a fixed order, every object deleted
// through the library's own virtual destructor. Window thread only.
#include "graphics/model_tables.h"

#include <btBulletDynamicsCommon.h>

template <class Object> static void DeleteOwned(Object **object)
{
    delete *object;
    *object = NULL;
}

// Constraints name their bodies, so they go before the bodies; the world does not delete them itself.
static void RemoveConstraints(btDynamicsWorld *world)
{
    for (int i = world->getNumConstraints() - 1; i >= 0; i--) {
        btTypedConstraint *constraint = world->getConstraint(i);
        world->removeConstraint(constraint);
        delete constraint;
    }
}

static void RemoveCollisionObjects(btDynamicsWorld *world)
{
    for (int i = world->getNumCollisionObjects() - 1; i >= 0; i--) {
        btCollisionObject *object = world->getCollisionObjectArray()[i];
        btRigidBody *body = btRigidBody::upcast(object);
        if (body != NULL && body->getMotionState() != NULL) {
            delete body->getMotionState();
        }
        world->removeCollisionObject(object);
        delete object;
    }
}

int DestroyPhysicsWorld(PhysicsWorld *world)
{
    if (world == NULL || world->dynamicsWorld == NULL) {
        return -1;
    }
    RemoveConstraints(world->dynamicsWorld);
    RemoveCollisionObjects(world->dynamicsWorld);
    DeleteOwned(&world->ghostPairCallback);
    DeleteOwned(&world->dynamicsWorld);
    DeleteOwned(&world->solver);
    DeleteOwned(&world->broadphase);
    DeleteOwned(&world->dispatcher);
    DeleteOwned(&world->collisionConfiguration);
    return 0;
}

int TeardownModelPhysics(ModelRecord *model)
{
    PhysicsWorld *world = model->physics;
    for (int i = 0; i < world->bodyCount; i++) {
        world->bodies[i].body = NULL;
        world->bodies[i].motionState = NULL;
        world->bodies[i].active = 0;
    }
    for (int i = 0; i < world->jointCount; i++) {
        world->joints[i].constraint = NULL;
    }
    return DestroyPhysicsWorld(world);
}
